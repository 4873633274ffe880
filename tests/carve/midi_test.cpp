// MIDI carving: the file ends after the last announced track chunk, whatever follows it, also
// when a chunk header lies across a sector boundary; an absurd track count does not run away.

#include "carve/formats/midi.h"

#include <gtest/gtest.h>

#include "support/carve_harness.h"

namespace kestrel {
namespace {

using testing::CarveHarness;
using testing::Concat;
using testing::Filler;

std::vector<uint8_t> Be32Bytes(uint32_t v) {
  return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}

// A format-1 header announcing `tracks` tracks.
std::vector<uint8_t> Header(uint16_t tracks) {
  return {'M',
          'T',
          'h',
          'd',
          0,
          0,
          0,
          6,
          0,
          1,
          static_cast<uint8_t>(tracks >> 8),
          static_cast<uint8_t>(tracks),
          0,
          96};
}

// A track chunk of `length` (at least 3) data bytes: note events, then the end-of-track event.
std::vector<uint8_t> Track(uint32_t length) {
  constexpr uint8_t kNote[] = {0x00, 0x90, 0x3C, 0x40};
  std::vector<uint8_t> events(length - 3);
  for (size_t k = 0; k < events.size(); ++k) events[k] = kNote[k % 4];
  events.insert(events.end(), {0xFF, 0x2F, 0x00});
  return Concat({testing::Bytes("MTrk"), Be32Bytes(length), events});
}

// Feeds the whole image and then finishes the file as the driver does at the next header.
void CarveAndFinish(CarveHarness& h, const std::vector<uint8_t>& image) {
  h.source.bytes() = image;
  h.Carve(MidiState{}, "MID");
}

void ExpectListed(CarveHarness& h, const std::vector<uint8_t>& expected) {
  EXPECT_EQ(h.OnlyFile(), expected);
  ASSERT_EQ(h.ui.rows.size(), 1u);
  EXPECT_EQ(h.ui.rows[0].bytes, expected.size());
}

TEST(Midi, TwoTracksEndAfterTheSecondEvenWhenAThirdChunkFollows) {
  // Track 1 crosses into sector 1; track 2's chunk header starts 3 bytes before its end, so its
  // name and length are read from the following sector.
  const auto first = Track(512 + 509 - 14 - 8);
  const auto midi = Concat({Header(2), first, Track(700)});
  ASSERT_EQ(Header(2).size() + first.size(), 1021u);
  CarveHarness h;

  CarveAndFinish(h, Concat({midi, Track(40), Filler(600)}));

  ExpectListed(h, midi);
}

TEST(Midi, TrackEndingOnASectorBoundaryEndsThereAndLaterSectorsAddNothing) {
  const auto midi = Concat({Header(1), Track(1024 - 14 - 8)});
  ASSERT_EQ(midi.size(), 1024u);
  CarveHarness h;
  CarveAndFinish(h, Concat({midi, Filler(1500)}));
  ExpectListed(h, midi);
}

TEST(Midi, TrackCountOfFFFFEndsAfterTheFirstTrack) {
  const auto midi = Concat({Header(0xFFFF), Track(600)});
  CarveHarness h;
  CarveAndFinish(h, Concat({midi, Track(50), Track(50), Filler(700)}));
  ExpectListed(h, midi);
}

TEST(Midi, HeaderWithoutTracksIsJustTheHeaderChunk) {
  CarveHarness h;
  CarveAndFinish(h, Concat({Header(0), Filler(600)}));
  ExpectListed(h, Header(0));
}

TEST(Midi, MissingLastTrackLeavesTheFileIncompleteAndItIsDeleted) {
  CarveHarness h;
  CarveAndFinish(h, Concat({Header(2), Track(300), Filler(800)}));
  EXPECT_TRUE(h.Files().empty());
  EXPECT_TRUE(h.ui.rows.empty());
  EXPECT_FALSE(h.engine.is_open());
}

TEST(Midi, AbsurdTrackLengthCopiesUntilTheDriverFinishes) {
  const auto start = Concat({Header(1), testing::Bytes("MTrk"), Be32Bytes(0xFFFFFFF0u)});
  CarveHarness h;
  CarveAndFinish(h, Concat({start, Filler(20 * 512)}));
  EXPECT_TRUE(h.Files().empty());
  EXPECT_TRUE(h.ui.rows.empty());
}

}  // namespace
}  // namespace kestrel
