// The ASF (WMV) whole-file check: files ffmpeg writes (video with sound, sound alone) and the
// fixture are whole; a file broken as fragmentation breaks files is not; a broadcast file is
// unchecked; hostile objects and counts end quickly; and a scan keeps a whole WMV but not one
// with foreign bytes inside.

#include "carve/formats/asf_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/broken_files.h"
#include "support/fixture_samples.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::Break;
using testing::CheckInSource;

// Three seconds in an ASF file by ffmpeg with `inputs_and_codecs`.
Bytes FfmpegAsf(const std::string& inputs_and_codecs) {
  return testing::MakeWithTool("ffmpeg -v error " + inputs_and_codecs + " -f asf out");
}
const char* const kVideoAndSound =
    "-f lavfi -i testsrc=duration=3:size=64x48:rate=25 -f lavfi -i sine=duration=3 -c:v wmv2 "
    "-c:a wmav2";

TEST(AsfCheck, FilesFfmpegWritesAreWhole) {
  if (!testing::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  EXPECT_EQ(CheckInSource(CheckAsf, FfmpegAsf(kVideoAndSound)), Whole::kYes);
  EXPECT_EQ(CheckInSource(CheckAsf, FfmpegAsf("-f lavfi -i sine=duration=3 -c:a wmav2")),
            Whole::kYes);
  EXPECT_EQ(CheckInSource(CheckAsf, testing::ReadFixtureSample("clip.wmv")), Whole::kYes);
}

TEST(AsfCheck, BrokenFilesAreNotWhole) {
  if (!testing::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  const Bytes asf = FfmpegAsf(kVideoAndSound);
  // Another video of the same layout: its packets lie where this file's do.
  const Bytes other = FfmpegAsf(
      "-f lavfi -i testsrc2=duration=3:size=64x48:rate=25 -f lavfi -i "
      "sine=duration=3:frequency=1000 -c:v wmv2 -c:a wmav2");
  ASSERT_GT(asf.size(), 16000u);
  for (const Break kind : testing::kEveryBreak) {
    EXPECT_EQ(CheckInSource(CheckAsf, testing::Broken(asf, kind, other)), Whole::kNo)
        << testing::BreakName(kind);
  }
}

TEST(AsfCheck, BroadcastFilesAreUncheckedAndHostileObjectsEndQuickly) {
  Bytes broadcast = testing::ReadFixtureSample("clip.wmv");
  ASSERT_EQ(broadcast[30], 0xA1);  // the File Properties object comes first
  broadcast[30 + 88] |= 1;
  EXPECT_EQ(CheckInSource(CheckAsf, broadcast), Whole::kUnchecked);
  // A header stating 100,000 objects of 24 bytes; a header object whose size passes the file.
  const Bytes guid = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                      0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
  Bytes many = guid;
  const Bytes header_size = {0x1E, 0x9F, 0x24, 0, 0, 0, 0, 0, 0xA0, 0x86, 0x01, 0, 1, 2};
  many.insert(many.end(), header_size.begin(), header_size.end());  // 30 + 2,400,000 bytes
  Bytes object(16, 0x11);                                           // an unknown object of 24 bytes
  object.resize(24, 0);
  object[16] = 24;
  for (int k = 0; k < 100000; ++k) many.insert(many.end(), object.begin(), object.end());
  EXPECT_EQ(CheckInSource(CheckAsf, many), Whole::kUnchecked);
  many[20] = 0x7F;
  EXPECT_EQ(CheckInSource(CheckAsf, many), Whole::kNo);
}

TEST(AsfCheck, AScanKeepsTheWholeFileAndNotOneWithTextInside) {
  if (!testing::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  const Bytes asf = FfmpegAsf(kVideoAndSound);
  EXPECT_EQ(testing::KeptFromBrokenAndWhole(testing::Broken(asf, Break::kTextBlock, {}), asf,
                                            TypeBit(kWmv)),
            std::vector<Bytes>{asf});
}

}  // namespace
}  // namespace kestrel
