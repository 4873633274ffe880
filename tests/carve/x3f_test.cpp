// X3F carving: the file ends after its "SECd" directory and the directory offset that follows it,
// wherever the directory lies against sector boundaries and however many sectors it spans.

#include "carve/formats/x3f.h"

#include "support/carve_harness.h"

namespace kestrel {
namespace {

// An X3F file whose "SECd" directory with `entries` entries starts at `directory_at`.
Bytes MakeX3f(size_t directory_at, uint32_t entries) {
  auto file = Concat({testing::Bytes("FOVb"), {0, 0, 2, 0}, Filler(directory_at - 8)});
  file = Concat({file, testing::Bytes("SECd"), {0, 0, 2, 0}, testing::Le32Bytes(entries)});
  for (uint32_t k = 0; k < entries; ++k) {
    file = Concat({file, testing::Le32Bytes(0x100 + k), testing::Le32Bytes(0x30),
                   testing::Bytes(k % 2 ? "PROP" : "IMAG")});
  }
  return Concat({file, testing::Le32Bytes(static_cast<uint32_t>(directory_at))});
}

uint64_t Carve(CarveHarness& h, const Bytes& file) {
  h.source.bytes() = Concat({file, Filler(1024), MakeX3f(600, 2)});
  return h.Carve(X3fState{}, "X3F", 0, ~uint64_t{0}, false);
}

TEST(X3f, DirectoryIsWrittenWholeWhereverItLies) {
  const struct {
    const char* what;
    Bytes x3f;
    uint64_t sectors;  // 0: not checked
  } kCases[] = {
      {"near a sector end, over two sectors", MakeX3f(1024 + 500, 5), 4},
      {"name and count across the sector end", MakeX3f(512 + 510, 3), 0},
      {"1,216 directory bytes over three sectors", MakeX3f(300, 100), 3},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    CarveHarness h;
    const uint64_t sectors = Carve(h, c.x3f);
    if (c.sectors != 0) {
      EXPECT_EQ(sectors, c.sectors);
    }
    h.ExpectKept(c.x3f);
  }
}

TEST(X3f, AbsurdEntryCountIsNotKept) {
  auto x3f = MakeX3f(700, 1);
  std::fill(x3f.begin() + 708, x3f.begin() + 712, uint8_t{0xFF});
  CarveHarness h;
  Carve(h, Concat({x3f, Filler(8 * 512)}));
  EXPECT_TRUE(h.engine.is_open());
  h.engine.Finish();
  h.ExpectNothingKept();
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
    h.ExpectKept(sample);
  }
}

}  // namespace
}  // namespace kestrel
