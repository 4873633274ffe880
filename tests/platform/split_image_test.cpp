#include "platform/split_image.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace kestrel {
namespace {

using testing::TempDir;

void Touch(const std::string& path, const std::vector<uint8_t>& bytes = {0}) {
  testing::WriteFileBytes(path, bytes);
}

TEST(SplitImageTest, FirstSegmentsAreKnownByTheirNumberOrLetters) {
  TempDir dir;
  for (const char* name : {"disk.001", "disk.002", "disk.003", "card.000", "card.001", "xaa", "xab",
                           "photo01", "photo02", "only.001", "later.002", "later.003"}) {
    Touch(dir / name);
  }
  EXPECT_EQ(SplitSegmentNames(dir / "disk.001"),
            (std::vector<std::string>{dir / "disk.001", dir / "disk.002", dir / "disk.003"}));
  EXPECT_EQ(SplitSegmentNames(dir / "card.000").size(), 2u);
  EXPECT_EQ(SplitSegmentNames(dir / "xaa"), (std::vector<std::string>{dir / "xaa", dir / "xab"}));
  // No dot before the number, no second segment, or not the first segment: no split image.
  EXPECT_TRUE(SplitSegmentNames(dir / "photo01").empty());
  EXPECT_TRUE(SplitSegmentNames(dir / "only.001").empty());
  EXPECT_TRUE(SplitSegmentNames(dir / "later.002").empty());
  EXPECT_TRUE(SplitSegmentNames(dir / "disk.002").empty());
}

TEST(SplitImageTest, AGapBeforeALaterSegmentNamesTheMissingOne) {
  TempDir dir;
  for (const char* name : {"disk.001", "disk.003"}) Touch(dir / name);
  EXPECT_EQ(SplitSegmentNames(dir / "disk.001"),
            (std::vector<std::string>{dir / "disk.001", dir / "disk.002"}));
  std::string why;
  EXPECT_EQ(SplitImageSource::Open(SplitSegmentNames(dir / "disk.001"), &why), nullptr);
  EXPECT_EQ(why, "segment " + dir / "disk.002" + " of the split image is missing");
}

TEST(SplitImageTest, ReadsAcrossSegmentsAsTheWholeImage) {
  TempDir dir;
  std::vector<uint8_t> whole(40 * 1000 + 321);
  for (size_t i = 0; i < whole.size(); ++i) whole[i] = static_cast<uint8_t>(i * 7 + i / 251);
  std::vector<std::string> names;
  for (size_t at = 0, number = 1; at < whole.size(); at += 1000, ++number) {
    names.push_back(dir / ("img.0" + std::string(number < 10 ? "0" : "") + std::to_string(number)));
    const size_t end = std::min(whole.size(), at + 1000);
    Touch(names.back(), std::vector<uint8_t>(whole.begin() + at, whole.begin() + end));
  }
  ASSERT_EQ(SplitSegmentNames(names.front()), names);
  std::string why;
  auto source = SplitImageSource::Open(names, &why);
  ASSERT_NE(source, nullptr) << why;
  EXPECT_EQ(source->Size(), whole.size());
  // Reads that start anywhere and cross many segments (more than are kept open at a time), and
  // the one that runs past the end.
  for (uint64_t offset : {0u, 999u, 1000u, 12345u, 39999u}) {
    std::vector<uint8_t> got(20000);
    const int64_t read = source->ReadAt(offset, got.data(), got.size());
    const size_t expected = std::min<size_t>(got.size(), whole.size() - offset);
    ASSERT_EQ(read, static_cast<int64_t>(expected)) << offset;
    got.resize(expected);
    EXPECT_EQ(got, std::vector<uint8_t>(whole.begin() + offset, whole.begin() + offset + expected));
  }
  EXPECT_EQ(source->ReadAt(whole.size(), whole.data(), 10), 0);
}

}  // namespace
}  // namespace kestrel
