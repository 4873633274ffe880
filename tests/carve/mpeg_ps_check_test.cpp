// The program stream whole-file check: every stream ffmpeg writes (MPEG-1, MPEG-2, DVD, Video
// CD) and the fixture are whole; streams broken by foreign blocks, another stream's tail, and
// (where packs do not fall on 4 KiB blocks) a missing block or a cut are not, nor an MPEG-2
// stream cut at a unit boundary inside a picture; a seam into a stream
// whose system header, streams or clock differ is not whole; hostile streams end quickly; and a
// carve that runs through a seam keeps nothing while the whole stream is kept. The video's start
// codes: slices that go on row by row and stamps that move on by the pictures between them fit;
// a stream that opens with another code (another stream's tail), rows out of order, a picture
// that ends short and stamps across missing pictures do not; codes split between packets are
// read whole.

#include "carve/formats/mpeg_ps_check.h"

#include "carve/formats/mpeg_ps.h"
#include "carve/formats/mpeg_video_track.h"
#include "support/broken_files.h"
#include "support/carve_harness.h"
#include "support/fixture_samples.h"
#include "support/media_files.h"

namespace kestrel {
namespace {

using testing::Break;
using testing::CheckInSource;

// Two seconds of video (and tone, unless `silent`) muxed by ffmpeg with `options`.
Bytes Muxed(const std::string& options, bool silent = false) {
  return testing::MakeWithTool(
      "ffmpeg -v error -f lavfi -i testsrc=duration=2:size=160x120:rate=25 " +
      std::string(silent ? "" : "-f lavfi -i sine=duration=2 ") + options + " out");
}

const Bytes kMpeg1Pack = {0x00, 0x00, 0x01, 0xBA, 0x21, 0x00, 0x01, 0x00, 0x01, 0x80, 0x1B, 0x91};
// An MPEG-1 pack whose clock reference is `clock` (below 2^32).
Bytes Mpeg1Pack(uint64_t clock) {
  Bytes pack = kMpeg1Pack;
  pack[4] = static_cast<uint8_t>(0x21 | ((clock >> 29) & 0x0E));
  pack[5] = static_cast<uint8_t>(clock >> 22);
  pack[6] = static_cast<uint8_t>((clock >> 14) | 1);
  pack[7] = static_cast<uint8_t>(clock >> 7);
  pack[8] = static_cast<uint8_t>((clock << 1) | 1);
  return pack;
}
// A system header listing `streams`, and an MPEG-1 packet of `id` without time stamps.
Bytes SystemHeader(const Bytes& streams, uint8_t rate = 0x33) {
  Bytes header = {0x00, 0x00, 0x01, 0xBB, 0, 0, 0x80, rate, 0x01, 0x04, 0xE1, 0xFF};
  for (const uint8_t id : streams) header.insert(header.end(), {id, 0xE0, 0x20});
  header[5] = static_cast<uint8_t>(header.size() - 6);
  return header;
}
Bytes Packet(uint8_t id) {
  Bytes packet = {0x00, 0x00, 0x01, id, 0x00, 0x64, 0x0F};
  packet.resize(106, 0x55);
  return packet;
}

TEST(MpegProgramStreamCheck, StreamsFfmpegWritesAreWhole) {
  const auto& streams = testing::FfmpegProgramStreams();
  if (streams.empty()) GTEST_SKIP() << "ffmpeg is not installed";
  for (const auto& stream : streams) {
    EXPECT_EQ(CheckInSource(CheckMpegProgramStream, stream.bytes), Whole::kYes) << stream.name;
  }
  EXPECT_EQ(CheckInSource(CheckMpegProgramStream, testing::ReadFixtureSample("clip.mpg")),
            Whole::kYes);
  // Zero runs after audio packs and at the end.
  EXPECT_EQ(CheckInSource(CheckMpegProgramStream, Muxed("-target pal-vcd -f vcd")), Whole::kYes);
}

TEST(MpegProgramStreamCheck, BrokenStreamsAreNotWhole) {
  if (!testing::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  const Bytes mpeg1 = Muxed("-c:v mpeg1video -f mpeg");
  const Bytes mpeg2 = Muxed("-c:v mpeg2video -f vob");
  const Bytes vcd = Muxed("-target pal-vcd -f vcd");
  // The other stream of a foreign block or tail is of the other system.
  const struct {
    const Bytes& stream;
    const Bytes& other;
    bool packs_on_blocks;  // 2 KiB packs: a missing block or a cut leaves whole packs
  } kCases[] = {{mpeg1, mpeg2, true}, {mpeg2, mpeg1, true}, {vcd, mpeg2, false}};
  for (const auto& c : kCases) {
    ASSERT_GT(c.stream.size(), 100000u);
    ASSERT_EQ(CheckInSource(CheckMpegProgramStream, c.stream), Whole::kYes);
    for (const Break kind : testing::kEveryBreak) {
      const bool whole_packs = kind == Break::kMissingBlock || kind == Break::kCut;
      if (whole_packs && c.packs_on_blocks) continue;
      const Bytes broken = testing::Broken(c.stream, kind, c.other);
      EXPECT_EQ(CheckInSource(CheckMpegProgramStream, broken), Whole::kNo)
          << testing::BreakName(kind) << " in a stream of " << c.stream.size() << " bytes";
    }
  }
}

// ffmpeg writes no end codes and fills every pack to 2 KiB, so a stream cut at a unit boundary
// ends on a whole pack as a whole one does: only its last picture, cut short of its last row of
// slices, tells.
TEST(MpegProgramStreamCheck, AnMpeg2StreamCutInsideAPictureIsNotWhole) {
  if (!testing::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  const Bytes stream = testing::MakeWithTool(
      "ffmpeg -v error -f lavfi -i testsrc=duration=2:size=352x288:rate=25 -c:v mpeg2video "
      "-b:v 2M -f vob out");
  ASSERT_GT(stream.size(), 24u * 4096);
  ASSERT_EQ(CheckInSource(CheckMpegProgramStream, stream), Whole::kYes);
  size_t cuts = 0, refused = 0;
  for (size_t cut = 4 * 4096; cut < stream.size(); cut += 4096, ++cuts) {
    const Bytes head(stream.begin(), stream.begin() + static_cast<ptrdiff_t>(cut));
    if (CheckInSource(CheckMpegProgramStream, head) == Whole::kNo) ++refused;
  }
  // About one cut in 18 (the picture's rows) falls in its last row.
  EXPECT_GE(refused * 10, cuts * 8) << refused << " of " << cuts << " cuts refused";
}

TEST(MpegProgramStreamCheck, ASeamIntoAnotherStreamIsNotWhole) {
  const Bytes head = Concat({Mpeg1Pack(1000), SystemHeader({0xE0}), Packet(0xE0)});
  const Bytes whole = Concat({head, Mpeg1Pack(2000), Packet(0xE0)});
  ASSERT_EQ(CheckInSource(CheckMpegProgramStream, whole), Whole::kYes);
  const Bytes kSeams[] = {
      Concat({Mpeg1Pack(500), Packet(0xE0)}),                               // the clock goes back
      Concat({Mpeg1Pack(2000), SystemHeader({0xE0}, 0x44), Packet(0xE0)}),  // another header
      Concat({Mpeg1Pack(2000), Packet(0xC0)}),  // a stream the system header does not list
      Concat({Mpeg1Pack(2000), Bytes{0x00, 0x00, 0x01, 0xE0, 0x00, 0x04, 0x80, 0x00, 0x00, 0x00}}),
  };
  for (const Bytes& seam : kSeams) {
    EXPECT_EQ(CheckInSource(CheckMpegProgramStream, Concat({head, seam})), Whole::kNo);
  }
  // A clock that wraps past 2^33 goes on.
  Bytes late = Mpeg1Pack(0);
  late[4] |= 0x0E;  // the clock's top bits: 7 << 30
  late[5] = 0xFF;
  const Bytes wrapped = Concat({late, Packet(0xE0), Mpeg1Pack(1000), Packet(0xE0)});
  EXPECT_EQ(CheckInSource(CheckMpegProgramStream, wrapped), Whole::kYes);
}

TEST(MpegProgramStreamCheck, HostileStreamsEndQuickly) {
  // 300,000 padding packets of one byte, a system header of 65,541 bytes, a packet whose length
  // passes the file's end.
  Bytes many = kMpeg1Pack;
  const Bytes padding = {0x00, 0x00, 0x01, 0xBE, 0x00, 0x01, 0xFF};
  for (int k = 0; k < 300000; ++k) many.insert(many.end(), padding.begin(), padding.end());
  EXPECT_EQ(CheckInSource(CheckMpegProgramStream, many), Whole::kYes);
  Bytes huge = Concat({kMpeg1Pack, SystemHeader({})});
  huge[16] = huge[17] = 0xFF;
  huge.resize(kMpeg1Pack.size() + 6 + 0xFFFF, 0xE0);
  EXPECT_EQ(CheckInSource(CheckMpegProgramStream, huge), Whole::kNo);
  EXPECT_EQ(CheckInSource(CheckMpegProgramStream, Concat({kMpeg1Pack, Bytes{0, 0, 1, 0xE0, 0xFF}})),
            Whole::kNo);
}

TEST(MpegProgramStreamCheck, ACarveThroughASeamKeepsNothing) {
  if (!testing::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  // A video-only stream, then the tail of one with sound whose clock runs later: the walk goes
  // through the seam, but the other system header and the sound packets break the check.
  const Bytes video = Muxed("-c:v mpeg2video -f vob", true);
  const Bytes later = Muxed("-c:v mpeg2video -output_ts_offset 100 -f vob");
  CarveHarness whole;
  whole.CarveOnly(MpegState{}, "MPG", Concat({video, Filler(3000)}));
  whole.ExpectKept(video);
  const Bytes joined = testing::Broken(video, Break::kJoined, later);
  CarveHarness seam;
  seam.CarveOnly(MpegState{}, "MPG", Concat({joined, Filler(3000)}));
  seam.ExpectNothingKept();
}

using Codes = std::vector<uint8_t>;

constexpr uint64_t kFramePeriod = 3600;  // 25 frames a second

// Start codes with a byte of data after each; `codes` 0x00 is a picture, 0x01-0xAF a slice.
Codes VideoCodes(const std::vector<uint8_t>& codes) {
  Codes bytes;
  for (const uint8_t code : codes) {
    bytes.insert(bytes.end(), {0x00, 0x00, 0x01, code});
    // The sequence header's fourth byte holds the frame rate code (3: 25 a second).
    if (code == 0xB3) {
      bytes.insert(bytes.end(), {0x0A, 0x00, 0x78, 0x13});
    } else {
      bytes.push_back(0x55);
    }
  }
  return bytes;
}

// A sequence header with its MPEG-2 extension, then pictures of `rows` slices each.
Codes Mpeg2Pictures(int pictures, uint8_t rows) {
  std::vector<uint8_t> codes = {0xB3, 0xB5, 0xB8};
  for (int p = 0; p < pictures; ++p) {
    codes.push_back(0x00);
    for (uint8_t row = 1; row <= rows; ++row) codes.push_back(row);
  }
  return VideoCodes(codes);
}

bool FedWhole(const Codes& bytes) {
  MpegVideoTrack track;
  track.NewPacket(MpegVideoTrack::kNoStamp);
  return track.Feed(bytes.data(), bytes.size());
}

TEST(MpegVideoTrack, RowsGoOnInOrderInEveryPicture) {
  EXPECT_TRUE(FedWhole(Mpeg2Pictures(3, 4)));
  // Another stream's tail opens with a slice, not a sequence header.
  EXPECT_FALSE(FedWhole(VideoCodes({0x03, 0x04, 0x00, 0x01})));
  // MPEG-2 starts a slice on every row.
  EXPECT_FALSE(FedWhole(VideoCodes({0xB3, 0xB5, 0x00, 0x01, 0x03})));
  EXPECT_FALSE(FedWhole(VideoCodes({0xB3, 0xB5, 0x00, 0x01, 0x02, 0x01})));
  // A picture that ends short of the first picture's last row.
  EXPECT_FALSE(FedWhole(VideoCodes({0xB3, 0xB5, 0x00, 0x01, 0x02, 0x03, 0x00, 0x01, 0x02, 0x00})));
  // An MPEG-1 writer whose first picture skips rows may skip them in every picture.
  EXPECT_TRUE(FedWhole(VideoCodes({0xB3, 0x00, 0x01, 0x04, 0x00, 0x02, 0x03, 0x00})));
  // Two slices on one row, and user data between them, are fine.
  EXPECT_TRUE(FedWhole(VideoCodes({0xB3, 0xB5, 0x00, 0x01, 0x01, 0xB2, 0x02, 0x00, 0x01, 0x02})));
  // Codes of no video stream.
  EXPECT_FALSE(FedWhole(VideoCodes({0xB3, 0xBA})));
}

TEST(MpegVideoTrack, CodesSplitBetweenPacketsAreReadWhole) {
  const Codes bytes = Mpeg2Pictures(2, 3);
  for (size_t split = 1; split < bytes.size(); ++split) {
    MpegVideoTrack track;
    track.NewPacket(MpegVideoTrack::kNoStamp);
    ASSERT_TRUE(track.Feed(bytes.data(), split));
    track.NewPacket(MpegVideoTrack::kNoStamp);
    EXPECT_TRUE(track.Feed(bytes.data() + split, bytes.size() - split)) << split;
  }
  // A slice that skips a row is seen wherever the bytes are split.
  Codes skipping = Mpeg2Pictures(1, 3);
  const Codes more = VideoCodes({0x00, 0x01, 0x03});
  skipping.insert(skipping.end(), more.begin(), more.end());
  for (size_t split = 1; split < skipping.size(); ++split) {
    MpegVideoTrack track;
    track.NewPacket(MpegVideoTrack::kNoStamp);
    const bool first = track.Feed(skipping.data(), split);
    track.NewPacket(MpegVideoTrack::kNoStamp);
    EXPECT_FALSE(first && track.Feed(skipping.data() + split, skipping.size() - split)) << split;
  }
}

// Feeds each picture of `pictures` two-row pictures as a packet stamped at the times of
// `frames` (frame numbers; a negative one: no stamp); whether all fit.
bool StampsFit(const std::vector<int>& frames) {
  MpegVideoTrack track;
  track.NewPacket(MpegVideoTrack::kNoStamp);
  const Codes head = VideoCodes({0xB3, 0xB5, 0xB8});
  if (!track.Feed(head.data(), head.size())) return false;
  const Codes picture = VideoCodes({0x00, 0x01, 0x02});
  for (const int frame : frames) {
    track.NewPacket(frame < 0 ? MpegVideoTrack::kNoStamp
                              : 90000 + static_cast<uint64_t>(frame) * kFramePeriod);
    if (!track.Feed(picture.data(), picture.size())) return false;
  }
  return true;
}

TEST(MpegVideoTrack, StampsMoveOnByThePicturesBetweenThem) {
  EXPECT_TRUE(StampsFit({0, 1, 2, 3}));
  EXPECT_TRUE(StampsFit({0, -1, 2, -1, -1, 5}));
  // Pictures missing between two stamps: frame 2 follows frame 0 directly.
  EXPECT_FALSE(StampsFit({0, 2}));
  EXPECT_FALSE(StampsFit({0, 1, 4, 5}));
  // A stamp that goes back.
  EXPECT_FALSE(StampsFit({3, 2}));
}

}  // namespace
}  // namespace kestrel
