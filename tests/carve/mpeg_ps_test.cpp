// MPEG program streams: MPEG-1 and MPEG-2 streams written by ffmpeg end exactly after their end
// code, or after their last packet when none follows; broken and absurd structures end the walk
// where they start, and a start that is no stream keeps nothing.

#include "carve/formats/mpeg_ps.h"

#include <algorithm>

#include "support/carve_harness.h"
#include "support/media_files.h"

namespace kestrel {
namespace {

const Bytes kEndCode = {0x00, 0x00, 0x01, 0xB9};

Bytes Mpeg1Pack() {
  return {0x00, 0x00, 0x01, 0xBA, 0x21, 0x00, 0x01, 0x00, 0x01, 0x80, 0x1B, 0x91};
}
Bytes Mpeg2Pack() {
  return {0x00, 0x00, 0x01, 0xBA, 0x44, 0x00, 0x04, 0x00, 0x04, 0x01, 0x01, 0x89, 0xC3, 0xF8};
}
// A PES packet of stream `id` whose length field says `length` and which holds `held` bytes,
// starting with a header without time stamps in the syntax of `system`'s packets.
Bytes Packet(uint8_t id, uint16_t length, size_t held, MpegSystem system = MpegSystem::kMpeg1) {
  Bytes packet = {
      0x00, 0x00, 0x01, id, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)};
  const Bytes header = system == MpegSystem::kMpeg1 ? Bytes{0x0F} : Bytes{0x80, 0x00, 0x00};
  packet.insert(packet.end(), header.begin(),
                header.begin() + static_cast<ptrdiff_t>(std::min(held, header.size())));
  packet.resize(6 + held, 0x55);
  return packet;
}
Bytes Packs(const Bytes& pack, int count) {
  Bytes stream;
  for (int k = 0; k < count; ++k)
    stream = Concat({stream, pack, Packet(0xE0, 500, 500, PackHeaderAt(pack.data()))});
  return stream;
}

TEST(MpegProgramStream, FfmpegStreamsComeBackExactly) {
  const auto& streams = testing::FfmpegProgramStreams();
  if (streams.empty()) GTEST_SKIP() << "ffmpeg is not installed";
  for (const auto& stream : streams) {
    SCOPED_TRACE(stream.name);
    ASSERT_NE(PackHeaderAt(stream.bytes.data()), MpegSystem::kUnknown);
    // Ended by filler, by zeros and by the source's end.
    for (const Bytes& after : {Filler(3000), Bytes(700, 0), Bytes{}}) {
      CarveHarness h;
      h.CarveOnly(MpegState{}, "MPG", Concat({stream.bytes, after}));
      h.ExpectKept(stream.bytes);
    }
  }
}

TEST(MpegProgramStream, BothPackFormsAreRecognisedByTheirMarkerBits) {
  EXPECT_EQ(PackHeaderAt(Mpeg1Pack().data()), MpegSystem::kMpeg1);
  EXPECT_EQ(PackHeaderAt(Mpeg2Pack().data()), MpegSystem::kMpeg2);
  // The old test of the MPEG-1 form read only its first bits: a cleared marker bit is no pack.
  Bytes broken = Mpeg1Pack();
  broken[8] &= 0xFE;
  EXPECT_EQ(PackHeaderAt(broken.data()), MpegSystem::kUnknown);
  broken = Mpeg2Pack();
  broken[12] &= 0xFC;
  EXPECT_EQ(PackHeaderAt(broken.data()), MpegSystem::kUnknown);
}

TEST(MpegProgramStream, EndCodeStraddlingTwoSectorsEndsTheStream) {
  // The last packet's length is what is left up to two bytes before the second sector's end.
  Bytes stream = Concat({Packs(Mpeg2Pack(), 1), Mpeg2Pack()});
  const size_t last = 1024 - 2 - stream.size() - 6;
  stream = Concat(
      {stream, Packet(0xC0, static_cast<uint16_t>(last), last, MpegSystem::kMpeg2), kEndCode});
  ASSERT_EQ(stream.size(), 1026u);
  CarveHarness h;
  EXPECT_EQ(h.CarveOnly(MpegState{}, "MPG", Concat({stream, Filler(600)})), stream);
}

TEST(MpegProgramStream, AbsurdStructuresEndTheStreamBeforeThem) {
  const Bytes good = Packs(Mpeg1Pack(), 4);
  const struct {
    const char* what;
    Bytes after;
  } kCases[] = {
      {"packet past the source's end", Packet(0xE0, 0xFFFF, 100)},
      {"packet of length 0", Packet(0xE0, 0, 100)},
      {"stream id below 0xBC", Packet(0xB5, 50, 50)},
      {"system header of length 5", Packet(0xBB, 5, 5)},
      {"system header with a partial stream entry", Packet(0xBB, 10, 10)},
      {"pack of the other system", Packs(Mpeg2Pack(), 3)},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    CarveHarness h;
    EXPECT_EQ(h.CarveOnly(MpegState{}, "MPG", Concat({good, c.after})), good);
  }
}

TEST(MpegProgramStream, FewPacksOrNoPacketKeepNothing) {
  for (const Bytes& stream : {Concat({Mpeg2Pack(), Packet(0xE0, 400, 400), kEndCode}),
                              Concat({Mpeg2Pack(), Mpeg2Pack(), Mpeg2Pack(), kEndCode}),
                              Concat({Mpeg1Pack(), Filler(900)})}) {
    CarveHarness h;
    h.CarveOnly(MpegState{}, "MPG", Concat({stream, Filler(600)}));
    h.ExpectNothingKept();
  }
}

TEST(MpegProgramStream, StreamCutOffInsideAPacketIsNotKept) {
  const Bytes whole = Packs(Mpeg1Pack(), 2);
  const Bytes image = Concat({whole, Mpeg1Pack(), Packet(0xE0, 3000, 3000)});
  CarveHarness h(image);
  // A new header (or a cancel) at the third sector finishes the file inside its last packet.
  h.Carve(MpegState{}, "MPG", 0, 3);
  h.ExpectNothingKept();
}

TEST(MpegProgramStream, WalkEndsAtTheSizeCap) {
  // Packs and packets that run on: the walk stops before the unit that would pass the cap.
  Bytes image;
  for (int k = 0; k < 20; ++k) image = Concat({image, Mpeg2Pack(), Packet(0xE0, 1000, 1000)});
  const uint64_t start = kMaxMpegBytes - 3000;
  uint64_t written = start;
  MpegState state;
  const Fed fed = testing::FeedDirect(state, FeedMpeg, image, written);
  EXPECT_EQ(fed.step, Step::kComplete);
  // Two packs with their packets, then the third pack header; its packet would pass the cap.
  EXPECT_EQ(written, start + 2 * (14 + 1006) + 14);
  EXPECT_TRUE(FinishMpeg(state).keep);
}

}  // namespace
}  // namespace kestrel
