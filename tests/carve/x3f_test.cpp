// X3F carving: the file ends after its "SECd" directory and the directory offset that follows it,
// wherever the directory lies against sector boundaries and however many sectors it spans.

#include "carve/formats/x3f.h"

#include <gtest/gtest.h>

#include "support/carve_harness.h"

namespace kestrel {
namespace {

using testing::CarveHarness;
using testing::Concat;
using testing::Filler;

std::vector<uint8_t> Le32Bytes(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

// An X3F file whose "SECd" directory with `entries` entries starts at `directory_at`.
std::vector<uint8_t> MakeX3f(size_t directory_at, uint32_t entries) {
  auto file = Concat({testing::Bytes("FOVb"), {0, 0, 2, 0}, Filler(directory_at - 8)});
  file = Concat({file, testing::Bytes("SECd"), {0, 0, 2, 0}, Le32Bytes(entries)});
  for (uint32_t k = 0; k < entries; ++k) {
    file = Concat(
        {file, Le32Bytes(0x100 + k), Le32Bytes(0x30), testing::Bytes(k % 2 ? "PROP" : "IMAG")});
  }
  return Concat({file, Le32Bytes(static_cast<uint32_t>(directory_at))});
}

uint64_t Carve(CarveHarness& h, const std::vector<uint8_t>& file) {
  h.source.bytes() = Concat({file, Filler(1024), MakeX3f(600, 2)});
  return h.Carve(X3fState{}, "X3F", 0, ~uint64_t{0}, false);
}

void ExpectListed(CarveHarness& h, const std::vector<uint8_t>& expected) {
  EXPECT_EQ(h.OnlyFile(), expected);
  ASSERT_EQ(h.ui.rows.size(), 1u);
  EXPECT_EQ(h.ui.rows[0].bytes, expected.size());
  EXPECT_FALSE(h.engine.is_open());
}

TEST(X3f, DirectoryNearASectorEndIsWrittenWholeOverTwoSectors) {
  const auto x3f = MakeX3f(1024 + 500, 5);
  CarveHarness h;
  EXPECT_EQ(Carve(h, x3f), 4u);
  ExpectListed(h, x3f);
}

TEST(X3f, DirectoryNameAndCountAcrossTheSectorEndAreReadFromTheNextSector) {
  const auto x3f = MakeX3f(512 + 510, 3);
  CarveHarness h;
  Carve(h, x3f);
  ExpectListed(h, x3f);
}

TEST(X3f, DirectoryLongerThanOneFurtherSectorIsWrittenWhole) {
  const auto x3f = MakeX3f(300, 100);  // 1,216 directory bytes, over three sectors
  CarveHarness h;
  EXPECT_EQ(Carve(h, x3f), 3u);
  ExpectListed(h, x3f);
}

TEST(X3f, AbsurdEntryCountIsNotKept) {
  auto x3f = MakeX3f(700, 1);
  std::fill(x3f.begin() + 708, x3f.begin() + 712, uint8_t{0xFF});
  CarveHarness h;
  Carve(h, Concat({x3f, Filler(8 * 512)}));
  EXPECT_TRUE(h.engine.is_open());
  h.engine.Finish();
  EXPECT_TRUE(h.Files().empty());
  EXPECT_TRUE(h.ui.rows.empty());
}

TEST(X3f, SigmaSamplesAreWrittenWhole) {
  const std::string samples = testing::SamplesDir();
  if (samples.empty()) GTEST_SKIP() << "the shared samples folder is missing";
  for (const char* name : {"Sigma.x3f", "SigmaDP2.x3f"}) {
    SCOPED_TRACE(name);
    const auto sample = testing::ReadFileBytes(samples + "/exiftool-t-images/" + name);
    ASSERT_FALSE(sample.empty());
    CarveHarness h;
    Carve(h, sample);
    ExpectListed(h, sample);
  }
}

}  // namespace
}  // namespace kestrel
