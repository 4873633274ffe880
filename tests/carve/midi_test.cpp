// MIDI carving: the file ends after the last announced track chunk, whatever follows it, also
// when a chunk header lies across a sector boundary; an absurd track count does not run away.

#include "carve/formats/midi.h"

#include "support/carve_harness.h"

namespace kestrel {
namespace {

// A format-1 header announcing `tracks` tracks.
Bytes Header(uint16_t tracks) {
  return Concat({testing::Bytes("MThd"),
                 testing::Be32Bytes(6),
                 {0, 1, static_cast<uint8_t>(tracks >> 8), static_cast<uint8_t>(tracks), 0, 96}});
}

// A track chunk of `length` (at least 3) data bytes: note events, then the end-of-track event.
Bytes Track(uint32_t length) {
  constexpr uint8_t kNote[] = {0x00, 0x90, 0x3C, 0x40};
  std::vector<uint8_t> events(length - 3);
  for (size_t k = 0; k < events.size(); ++k) events[k] = kNote[k % 4];
  events.insert(events.end(), {0xFF, 0x2F, 0x00});
  return Concat({testing::Bytes("MTrk"), testing::Be32Bytes(length), events});
}

TEST(Midi, FileEndsAfterItsLastAnnouncedTrack) {
  // Track 1 crosses into sector 1; track 2's chunk header starts 3 bytes before its end, so its
  // name and length are read from the following sector.
  const auto first = Track(512 + 509 - 14 - 8);
  ASSERT_EQ(Header(2).size() + first.size(), 1021u);
  const auto two_tracks = Concat({Header(2), first, Track(700)});
  const auto on_boundary = Concat({Header(1), Track(1024 - 14 - 8)});
  ASSERT_EQ(on_boundary.size(), 1024u);
  const auto count_ffff = Concat({Header(0xFFFF), Track(600)});
  const struct {
    const char* what;
    Bytes midi, after;
  } kCases[] = {
      {"two tracks, a third chunk after them", two_tracks, Concat({Track(40), Filler(600)})},
      {"a track ending on a sector boundary", on_boundary, Filler(1500)},
      {"track count FFFF: after the first track", count_ffff,
       Concat({Track(50), Track(50), Filler(700)})},
      {"no tracks: the header chunk alone", Header(0), Filler(600)},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    CarveHarness h;
    h.CarveOnly(MidiState{}, "MID", Concat({c.midi, c.after}));
    h.ExpectKept(c.midi);
  }
}

TEST(Midi, MissingLastTrackOrAbsurdTrackLengthKeepsNothing) {
  const auto absurd = Concat({Header(1), testing::Bytes("MTrk"), testing::Be32Bytes(0xFFFFFFF0u)});
  for (const Bytes& image :
       {Concat({Header(2), Track(300), Filler(800)}), Concat({absurd, Filler(20 * 512)})}) {
    CarveHarness h;
    h.CarveOnly(MidiState{}, "MID", image);
    h.ExpectNothingKept();
  }
}

}  // namespace
}  // namespace kestrel
