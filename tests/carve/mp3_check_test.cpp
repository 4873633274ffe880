// The MP3 whole-file check: every stream ffmpeg writes (tags, VBR, MPEG-2 and 2.5 rates, layer
// II) and the fixture are whole, also with the tags that may end a file; longer streams broken
// as fragmentation breaks files are not, nor are two streams joined; free-format streams are
// unchecked; hostile tags and counts end quickly; and a carve keeps a whole MP3 but not one whose
// middle is foreign.

#include "carve/formats/mp3_check.h"

#include <cstring>
#include <string>

#include "carve/formats/mp3.h"
#include "support/broken_files.h"
#include "support/carve_harness.h"
#include "support/fixture_samples.h"
#include "support/media_files.h"
#include "support/mp3_builder.h"

namespace kestrel {
namespace {

using testing::ApeTag;
using testing::Break;
using testing::CheckInSource;
using testing::Mp3Frames;

// Six seconds of tone encoded by LAME with `options`.
Bytes Lame(const std::string& options) {
  return testing::MakeWithTool(
      "ffmpeg -v error -f lavfi -i sine=frequency=440:duration=6 -c:a libmp3lame " + options +
      " -f mp3 out");
}

// A Lyrics3 v2 tag and an ID3v1 tag.
Bytes LyricsTag() {
  const Bytes body = testing::Bytes(
      "LYRICSBEGININD00002"
      "10LYR00005Hello");
  return Concat(
      {body, testing::Bytes("0000" + std::to_string(body.size())), testing::Bytes("LYRICS200")});
}
Bytes Id3v1Tag() {
  Bytes tag = testing::Bytes("TAGKestrel");
  tag.resize(128, 0);
  return tag;
}

TEST(Mp3Check, StreamsFfmpegWritesAreWholeWithTheTagsThatMayEndThem) {
  const auto& files = testing::FfmpegMp3s();
  if (files.empty()) GTEST_SKIP() << "ffmpeg is not installed";
  for (const auto& file : files) {
    SCOPED_TRACE(file.name);
    EXPECT_EQ(CheckInSource(CheckMp3, file.bytes), Whole::kYes);
  }
  EXPECT_EQ(CheckInSource(CheckMp3, testing::ReadFixtureSample("tone.mp3")), Whole::kYes);
  const Bytes untagged = Mp3Frames(20);
  for (const Bytes& tags : {ApeTag(), LyricsTag(), Concat({ApeTag(), Id3v1Tag()}),
                            Concat({LyricsTag(), Id3v1Tag()}), Bytes(100, 0)}) {
    EXPECT_EQ(CheckInSource(CheckMp3, Concat({untagged, tags})), Whole::kYes);
  }
}

TEST(Mp3Check, BrokenStreamsAreNotWhole) {
  if (!testing::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  const Bytes other = Lame("-b:a 96k -metadata title=Another");
  for (const char* options : {"-b:a 128k -metadata title=Kestrel", "-q:a 2",
                              "-b:a 128k -id3v2_version 0 -write_xing 0"}) {
    SCOPED_TRACE(options);
    const Bytes mp3 = Lame(options);
    ASSERT_GT(mp3.size(), 16000u);
    ASSERT_EQ(CheckInSource(CheckMp3, mp3), Whole::kYes);
    for (const Break kind : testing::kEveryBreak) {
      EXPECT_EQ(CheckInSource(CheckMp3, testing::Broken(mp3, kind, other)), Whole::kNo)
          << testing::BreakName(kind);
    }
  }
}

TEST(Mp3Check, TwoStreamsJoinedAreNotWhole) {
  if (!testing::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  // The second stream's first frame holds its Info header.
  const Bytes first = Lame("-b:a 128k -id3v2_version 0");
  EXPECT_EQ(CheckInSource(CheckMp3, Concat({first, first})), Whole::kNo);
  // Frames of one channel after frames of two, of the same rate and layer.
  EXPECT_EQ(CheckInSource(CheckMp3, Concat({Mp3Frames(10), Mp3Frames(10, 0, true)})), Whole::kNo);
  // A tail longer than a frame, and a last frame cut short, after the frames.
  EXPECT_EQ(CheckInSource(CheckMp3, Concat({Mp3Frames(10), Bytes(500, 0)})), Whole::kNo);
  const Bytes frames = Mp3Frames(10);
  EXPECT_EQ(CheckInSource(CheckMp3, Bytes(frames.begin(), frames.end() - 100)), Whole::kNo);
}

TEST(Mp3Check, FreeFormatIsUncheckedAndHostileFieldsEndQuickly) {
  Bytes free_format = Mp3Frames(10);
  free_format[2] &= 0x0F;
  EXPECT_EQ(CheckInSource(CheckMp3, free_format), Whole::kUnchecked);
  // A 256 MiB tag, an APE footer and a Lyrics3 size far past the file, an Info header that
  // claims 4 G frames: no read past the file, a verdict.
  Bytes info = Mp3Frames(20);
  std::memcpy(info.data() + 36, "Info\0\0\0\x03\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 16);
  Bytes ape = ApeTag();
  ape[ape.size() - 20] = 0xFF;  // the footer's size
  const Bytes kCases[] = {{'I', 'D', '3', 3, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F},
                          info,
                          Concat({Mp3Frames(20), ape}),
                          Bytes(100000, 0xFF)};
  for (const Bytes& hostile : kCases) EXPECT_EQ(CheckInSource(CheckMp3, hostile), Whole::kNo);
  // A Lyrics3 end whose size reaches before the file is no tag: a tail shorter than a frame.
  const Bytes lyrics = testing::Bytes("999999LYRICS200");
  EXPECT_EQ(CheckInSource(CheckMp3, Concat({Mp3Frames(20), lyrics})), Whole::kYes);
  // The smallest frames (layer I, 32 kbit/s at 48 kHz: 32 bytes) over 4 MiB: 131,072 frames.
  Bytes small = {0xFF, 0xFF, 0x14, 0x00};
  small.resize(32, 0);
  Bytes many;
  for (int k = 0; k < 131072; ++k) many.insert(many.end(), small.begin(), small.end());
  EXPECT_EQ(CheckInSource(CheckMp3, many), Whole::kYes);
}

TEST(Mp3Check, ACarveKeepsTheWholeStreamAndNotOneWithForeignBytesInside) {
  if (!testing::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  const Bytes mp3 = Lame("-b:a 128k -metadata title=Kestrel");
  CarveHarness whole;
  whole.CarveOnly(Mp3State{}, "MP3", Concat({mp3, Filler(2000)}));
  whole.ExpectKept(mp3);
  // The walk ends at the random block; the part before it falls short of the Info frame count.
  CarveHarness broken;
  broken.CarveOnly(Mp3State{}, "MP3", testing::Broken(mp3, Break::kRandomBlock, {}));
  broken.ExpectNothingKept();
}

}  // namespace
}  // namespace kestrel
