// Telling a whole JPEG from one whose data runs into foreign bytes, by decoding its entropy-coded
// data: camera samples and pictures written by cjpeg (chroma subsampling, restart intervals,
// grayscale, optimised tables, progressive) decode whole; the same pictures with 4 KiB of random
// bytes, text or another picture's data at a 4 KiB boundary, or cut short, do not; codings the
// check does not decode are left unchecked.
#include "carve/formats/jpeg_entropy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/testing/source_doubles.h"
#include "support/damaged_blocks.h"
#include "support/fixture_samples.h"
#include "support/scan_harness.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::TempDir;

JpegCheck CheckJpeg(const Bytes& jpeg) {
  MemorySource source(jpeg);
  return CheckJpegEntropy(source, 0, jpeg.size());
}

// A 640 x 480 picture with detail everywhere (a fractal plasma), as a PPM.
std::string MakePicture(TempDir& dir) {
  const std::string ppm = dir / "picture.ppm";
  if (testing::RunCommand("gm convert -size 640x480 plasma:fractal " + ppm + " 2>/dev/null") != 0) {
    return "";
  }
  return ppm;
}

// The picture compressed by cjpeg with `options`.
Bytes Compress(TempDir& dir, const std::string& ppm, const std::string& options) {
  const std::string out = dir / "out.jpg";
  std::filesystem::remove(out);
  if (testing::RunCommand("cjpeg " + options + " -outfile " + out + " " + ppm) != 0) return {};
  return testing::ReadFileBytes(out);
}

class CjpegPictures : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::HaveTool("cjpeg") || !testing::HaveTool("gm")) {
      GTEST_SKIP() << "cjpeg (libjpeg-turbo-progs) or gm (graphicsmagick) is not installed";
    }
    ppm_ = MakePicture(dir_);
    ASSERT_FALSE(ppm_.empty()) << "gm could not draw the picture";
  }
  Bytes Jpeg(const std::string& options) {
    Bytes jpeg = Compress(dir_, ppm_, options);
    EXPECT_GT(jpeg.size(), 16u * 1024) << options;
    return jpeg;
  }

  TempDir dir_;
  std::string ppm_;
};

const char* const kDecodedOptions[] = {
    "-progressive",
    "-progressive -quality 95 -sample 1x1",
    "-progressive -restart 2",
    "-progressive -grayscale",
    "-quality 90",
    "-quality 75 -sample 1x1",
    "-quality 85 -sample 2x1",
    "-quality 95 -restart 1",
    "-quality 80 -restart 3B",
    "-grayscale -quality 90",
    "-grayscale -restart 2",
    "-optimize -quality 70",
};

TEST(JpegEntropy, CameraSamplesAndFixturesDecodeWhole) {
  int checked = 0;
  const std::string samples = testing::SamplesDir();
  for (const auto& entry : std::filesystem::directory_iterator(
           samples.empty() ? "." : samples + "/exiftool-t-images")) {
    if (samples.empty()) break;
    if (entry.path().extension() != ".jpg") continue;
    Bytes jpeg = testing::ReadFileBytes(entry.path().string());
    if (jpeg.size() < 4 || jpeg[jpeg.size() - 2] != 0xFF || jpeg.back() != 0xD9) continue;
    EXPECT_EQ(CheckJpeg(jpeg).verdict, JpegVerdict::kWhole) << entry.path();
    ++checked;
  }
  for (const char* name : {"exif.jpg", "jfif.jpg", "plain.jpg"}) {
    EXPECT_EQ(CheckJpeg(testing::ReadFixtureSample(name)).verdict, JpegVerdict::kWhole) << name;
    ++checked;
  }
  EXPECT_GE(checked, samples.empty() ? 3 : 13);
}

TEST_F(CjpegPictures, EverySequentialAndProgressiveCodingDecodesWhole) {
  for (const char* options : kDecodedOptions) {
    EXPECT_EQ(CheckJpeg(Jpeg(options)).verdict, JpegVerdict::kWhole) << options;
  }
}

TEST_F(CjpegPictures, ArithmeticCodingIsLeftUnchecked) {
  EXPECT_EQ(CheckJpeg(Jpeg("-arithmetic")).verdict, JpegVerdict::kUnchecked);
}

// The picture with `gap` put in at 8 KiB, as a fragmented file carved contiguously reads.
Bytes WithGap(const Bytes& jpeg, const Bytes& gap) {
  Bytes out(jpeg.begin(), jpeg.begin() + 8192);
  out.insert(out.end(), gap.begin(), gap.end());
  out.insert(out.end(), jpeg.begin() + 8192, jpeg.end());
  return out;
}

TEST_F(CjpegPictures, ForeignBytesInsideTheDataBreakIt) {
  const Bytes noise = testing::NoiseBlock();
  const Bytes text = testing::TextBlock();

  for (const char* options : kDecodedOptions) {
    SCOPED_TRACE(options);
    const Bytes jpeg = Jpeg(options);
    // Another picture of the same coding: its data decodes, but not to this picture's end.
    const Bytes other = Compress(dir_, ppm_, std::string(options) + " -quality 60");
    const Bytes other_data(other.begin() + 4096, other.begin() + 8192);
    for (const Bytes* gap : std::vector<const Bytes*>{&noise, &text, &other_data}) {
      const JpegCheck check = CheckJpeg(WithGap(jpeg, *gap));
      EXPECT_EQ(check.verdict, JpegVerdict::kBroken);
      EXPECT_GE(check.broken_at, 8192u) << "the data before the gap is sound";
    }
  }
}

TEST_F(CjpegPictures, ACutShortPictureIsBroken) {
  for (const char* options : {"-quality 90", "-restart 1"}) {
    Bytes cut = Jpeg(options);
    cut.resize(cut.size() / 2);
    cut.push_back(0xFF);
    cut.push_back(0xD9);  // a later end marker, as a carve that runs on finds one
    EXPECT_EQ(CheckJpeg(cut).verdict, JpegVerdict::kBroken) << options;
    cut.resize(cut.size() - 2);
    EXPECT_EQ(CheckJpeg(cut).verdict, JpegVerdict::kBroken) << options << ", no end marker";
  }
}

// The picture with its third 4 KiB unit overwritten by `gap`.
Bytes WithUnitOverwritten(Bytes jpeg, const Bytes& gap) {
  std::copy(gap.begin(), gap.end(), jpeg.begin() + 8192);
  return jpeg;
}

// A scan writes the whole picture and not the one with a unit overwritten by a 4 KiB block of
// text that starts with an end marker (read contiguously, it would end at that marker, and with
// the block's end marker skipped it would run through the text to the picture's own end): no
// unit goes on where the text begins.
TEST_F(CjpegPictures, AScanKeepsTheWholePictureAndNotTheOverwrittenOne) {
  const Bytes whole = Jpeg("-quality 90");
  const Bytes overwritten = Jpeg("-quality 80 -sample 2x1");
  Bytes gap(4096, 'x');
  gap[0] = 0xFF;
  gap[1] = 0xD9;
  Bytes image(16 * 1024, 0);
  const auto add = [&image](const Bytes& bytes) {
    image.insert(image.end(), bytes.begin(), bytes.end());
    image.resize((image.size() + 4095) / 4096 * 4096 + 8192, 0);
  };
  add(whole);
  add(WithUnitOverwritten(overwritten, gap));
  Bytes text_gap(4096, 'x');
  add(WithUnitOverwritten(overwritten, text_gap));
  auto scan = testing::ScanImage(image, dir_);
  ASSERT_EQ(scan->files.size(), 1u);
  EXPECT_EQ(scan->File(scan->files[0]), whole);
  EXPECT_TRUE(scan->ui.not_whole_rows.empty());

  // Asked for, the two that are not whole are kept apart and listed apart.
  testing::ScanOptions keep_apart;
  keep_apart.keep_not_whole = true;
  scan = testing::ScanImage(image, dir_, keep_apart);
  ASSERT_EQ(scan->ui.rows.size(), 1u);
  EXPECT_EQ(scan->File(scan->ui.rows[0].name), whole);
  ASSERT_EQ(scan->ui.not_whole_rows.size(), 2u);
  for (const ResultRow& row : scan->ui.not_whole_rows) {
    EXPECT_EQ(row.folder_text, scan->run_folder + "partial/");
    EXPECT_EQ(testing::ReadFileBytes(row.full_path).size(), row.bytes);
  }
  EXPECT_NE(scan->ui.not_whole_rows[0].full_path, scan->ui.not_whole_rows[1].full_path);
}

// A decoding taken up again from the state kept before a point ends as the whole decoding did,
// with the same rows traced after the point, and reads what follows the point from the source it
// is given, not from the one it was kept with.
TEST_F(CjpegPictures, ADecodingTakenUpAgainEndsAsTheWholeDecoding) {
  for (const std::string options :
       {"-quality 90", "-quality 85 -restart 2", "-grayscale", "-progressive"}) {
    const Bytes jpeg = Jpeg(options);
    MemorySource source(jpeg);
    JpegRowTrace whole_rows;
    const JpegCheck whole = CheckJpegEntropy(source, 0, jpeg.size(), {~uint64_t{0}, &whole_rows});
    ASSERT_EQ(whole.verdict, JpegVerdict::kWhole) << options;
    for (const uint64_t at : {jpeg.size() / 3, jpeg.size() / 2, jpeg.size() - 6000}) {
      const std::string what = options + ", kept before " + std::to_string(at);
      JpegKeptState kept;
      JpegRowTrace rows;
      JpegDecodeOptions keep;
      keep.stop_after = keep.keep_at = at;
      keep.trace = &rows;
      keep.keep = &kept;
      CheckJpegEntropy(source, 0, jpeg.size(), keep);
      ASSERT_TRUE(kept.held()) << what;

      JpegRowTrace resumed_rows;
      const JpegCheck resumed =
          ResumeJpegEntropy(kept, source, jpeg.size(), {~uint64_t{0}, &resumed_rows});
      EXPECT_EQ(resumed.verdict, JpegVerdict::kWhole) << what;
      EXPECT_EQ(resumed.end, whole.end) << what;
      ASSERT_LE(resumed_rows.first_mcu + resumed_rows.offsets.size(), whole_rows.offsets.size());
      const size_t edge = resumed_rows.edge;
      for (size_t i = 0; i < resumed_rows.offsets.size(); ++i) {
        const size_t m = static_cast<size_t>(resumed_rows.first_mcu) + i;
        ASSERT_EQ(resumed_rows.offsets[i], whole_rows.offsets[m]) << what << ", MCU " << m;
        ASSERT_TRUE(std::equal(resumed_rows.top.begin() + i * edge,
                               resumed_rows.top.begin() + (i + 1) * edge,
                               whole_rows.top.begin() + m * edge))
            << what << ", MCU " << m;
      }

      Bytes other = jpeg;
      const Bytes noise = testing::NoiseBlock(7);
      std::copy(noise.begin(), noise.end(), other.begin() + static_cast<ptrdiff_t>(at));
      MemorySource other_source(other);
      EXPECT_EQ(ResumeJpegEntropy(kept, other_source, other.size()).verdict, JpegVerdict::kBroken)
          << what << ", random bytes after the point";
    }
  }
}

// The samples traced along each MCU's top and bottom edges are the rows of the picture a
// decoder makes (djpeg, with the floating-point inverse DCT).
TEST_F(CjpegPictures, TracedEdgesAreTheDecodedPicturesRows) {
  if (!testing::HaveTool("djpeg")) GTEST_SKIP() << "djpeg is not installed";
  const Bytes jpeg = Jpeg("-grayscale -quality 90");
  testing::WriteFileBytes(dir_ / "gray.jpg", jpeg);
  ASSERT_EQ(testing::RunCommand("djpeg -dct float -pnm -outfile " + (dir_ / "gray.pgm") + " " +
                                (dir_ / "gray.jpg")),
            0);
  const Bytes pgm = testing::ReadFileBytes(dir_ / "gray.pgm");
  const std::string header = "P5\n640 480\n255\n";
  ASSERT_EQ(std::string(pgm.begin(), pgm.begin() + static_cast<ptrdiff_t>(header.size())), header);
  const uint8_t* pixels = pgm.data() + header.size();

  MemorySource source(jpeg);
  JpegRowTrace rows;
  ASSERT_EQ(CheckJpegEntropy(source, 0, jpeg.size(), {~uint64_t{0}, &rows}).verdict,
            JpegVerdict::kWhole);
  ASSERT_EQ(rows.mcus_per_row, 80u);
  ASSERT_EQ(rows.edge, 8u);
  ASSERT_EQ(rows.offsets.size(), 80u * 60u);
  int worst = 0;
  for (size_t m = 0; m < rows.offsets.size(); ++m) {
    const size_t y = m / 80 * 8, x = m % 80 * 8;
    for (size_t i = 0; i < 8; ++i) {
      const int top = std::clamp<int>(rows.top[m * 8 + i], 0, 255);
      const int bottom = std::clamp<int>(rows.bottom[m * 8 + i], 0, 255);
      worst = std::max(worst, std::abs(top - pixels[y * 640 + x + i]));
      worst = std::max(worst, std::abs(bottom - pixels[(y + 7) * 640 + x + i]));
    }
  }
  EXPECT_LE(worst, 1);
}

TEST(JpegEntropy, DamagedHeadersAreBrokenNotACrash) {
  Bytes jpeg = testing::ReadFixtureSample("jfif.jpg");
  // Every byte of the headers set to each of a few values: the check ends with a verdict.
  const size_t headers = std::min<size_t>(jpeg.size(), 700);
  for (size_t at = 2; at < headers; ++at) {
    for (int value : {0x00, 0x01, 0x7F, 0xFF}) {
      Bytes damaged = jpeg;
      damaged[at] = static_cast<uint8_t>(value);
      const JpegCheck check = CheckJpeg(damaged);
      EXPECT_LE(check.broken_at, damaged.size());
    }
  }
  EXPECT_EQ(CheckJpeg(Bytes{0xFF, 0xD8}).verdict, JpegVerdict::kBroken);
  // Three codes of one bit (two fit): refused before they index the lookup table (the sanitizer
  // builds see a write past it otherwise).
  Bytes table = {0xFF, 0xD8, 0xFF, 0xC4, 0x00, 0x16, 0x00, 3};
  table.resize(table.size() + 15, 0);
  table.insert(table.end(), {1, 2, 3, 0xFF, 0xD9});
  EXPECT_EQ(CheckJpeg(table).verdict, JpegVerdict::kBroken);
  EXPECT_EQ(CheckJpeg(Bytes{}).verdict, JpegVerdict::kBroken);
}

}  // namespace
}  // namespace kestrel
