// Carving into memory gives exactly what the raw scan writes to the run folder: the same files,
// in the same order, under the same names, with the same bytes. The in-memory carving of the
// tests and the fuzzer therefore tests the real thing.

#include <tuple>

#include "support/fixture_samples.h"
#include "support/image_builder.h"
#include "support/memory_scan.h"
#include "support/scan_harness.h"
#include "support/structured_fixtures.h"

namespace kestrel {
namespace {

using testing::Filler;
using testing::ImageBuilder;

ImageBuilder EverySample(Filler filler) {
  ImageBuilder image;
  uint64_t seed = 3;
  for (const testing::FixtureSample& sample : testing::FixtureSamples()) {
    image.AddRandom(2, seed++, filler);
    image.AddSample(sample.file, filler);
  }
  for (const char* file : {"office.docx", "commented.zip", "word.doc", "excel.xls", "strips_be.tif",
                           "moov_last.mov"}) {
    image.AddRandom(2, seed++, filler);
    image.AddFile(testing::StructuredSample(file), file, filler);
  }
  image.AddRandom(16, seed, filler);
  return image;
}

void ExpectSameAsTheRawScan(const ImageBuilder& image, const TypeSet& selected) {
  testing::TempDir dir;
  testing::ScanOptions options = testing::OnlyTypes(selected);
  auto scan = testing::ScanImage(image.bytes(), dir, options);
  const auto carved = testing::CarveInMemory(image.bytes(), selected);
  ASSERT_EQ(carved.size(), scan->ui.rows.size());
  ASSERT_FALSE(carved.empty());
  for (size_t i = 0; i < carved.size(); ++i) {
    SCOPED_TRACE(carved[i].name);
    EXPECT_EQ(carved[i].name, scan->ui.rows[i].name);
    EXPECT_EQ(carved[i].bytes, scan->File(scan->ui.rows[i].name));
  }
}

TEST(InMemoryScan, SamplesCarveAsTheRawScanWrites) {
  const TypeSet some = TypeBit(kJpg) | TypeBit(kDoc) | TypeBit(kTif) | TypeBit(kMov);
  for (const auto& [what, filler, selected] :
       {std::tuple{"among zeros", Filler::kZeros, kAllFileTypesMask},
        std::tuple{"among random bytes", Filler::kRandom, kAllFileTypesMask},
        std::tuple{"a selection", Filler::kRandom, some}}) {
    SCOPED_TRACE(what);
    ExpectSameAsTheRawScan(EverySample(filler), selected);
  }
}

}  // namespace
}  // namespace kestrel
