// Every sample file, laid into a disk image at sector boundaries among zeros and random bytes,
// comes back from the raw scan under its carved name, byte for byte (or with the bounded tail of
// zeros its format's end rule allows).

#include <map>

#include "output/output_naming.h"
#include "support/fixture_samples.h"
#include "support/image_builder.h"
#include "support/scan_harness.h"
#include "support/structured_fixtures.h"

namespace kestrel {
namespace {

using testing::Filler;
using testing::FixtureSample;
using testing::ImageBuilder;
using testing::ScanImage;
using testing::TempDir;

struct Expected {
  std::string name;
  const FixtureSample* sample;
};

// Lays every sample into one image, separated by `gap` sectors of `filler`.
std::vector<Expected> LayAllSamples(ImageBuilder& image, Filler filler) {
  std::vector<Expected> expected;
  std::map<std::string, int> per_extension;
  uint64_t seed = 7;
  for (const FixtureSample& sample : testing::FixtureSamples()) {
    image.AddRandom(3, seed++, filler);  // zero sectors for kZeros
    image.AddSample(sample.file, Filler::kZeros);
    const std::string extension(sample.extension);
    expected.push_back({CarvedName("KES", ++per_extension[extension], extension), &sample});
  }
  image.AddZeros(8);
  return expected;
}

void ExpectRecoveredWhole(const testing::ScanRun& scan, const std::vector<Expected>& expected) {
  ASSERT_EQ(scan.result.outcome, RunOutcome::kCompleted);
  EXPECT_EQ(scan.ui.MessageIds(), std::vector<int>{112});
  ASSERT_EQ(scan.ui.rows.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    const FixtureSample& sample = *expected[i].sample;
    SCOPED_TRACE(std::string(sample.file));
    EXPECT_EQ(scan.ui.rows[i].name, expected[i].name);
    const std::vector<uint8_t> original = testing::ReadFixtureSample(sample.file);
    const std::vector<uint8_t> recovered = scan.File(expected[i].name);
    EXPECT_EQ(scan.ui.rows[i].bytes, recovered.size());
    EXPECT_EQ(scan.ui.rows[i].folder_text, scan.run_folder);
    EXPECT_EQ(recovered, original);
  }
  EXPECT_EQ(scan.files.size(), expected.size()) << "nothing but the samples is left behind";
}

TEST(SampleRecovery, EverySampleAmongZerosOrRandomBytesComesBackWhole) {
  for (Filler filler : {Filler::kZeros, Filler::kRandomNoEndMarkers}) {
    SCOPED_TRACE(filler == Filler::kZeros ? "zeros" : "random");
    ImageBuilder image;
    const std::vector<Expected> expected = LayAllSamples(image, filler);
    TempDir dir;
    ExpectRecoveredWhole(*ScanImage(image.bytes(), dir), expected);
  }
}

TEST(SampleRecovery, OnlySelectedTypesAreWritten) {
  ImageBuilder image;
  LayAllSamples(image, Filler::kZeros);
  TempDir dir;
  auto scan = ScanImage(image.bytes(), dir, testing::OnlyTypes(TypeBit(kPng) | TypeBit(kWav)));
  EXPECT_EQ(scan->files, (std::vector<std::string>{"KES00001.PNG", "KES00001.WAV"}));
}

// The structured formats come back whole under the name their contents give them.
TEST(SampleRecovery, StructuredSamplesComeBackUnderTheirOwnNames) {
  // Archives that become DOCX, XLSX or PPTX give their ZIP number back: numbers stay dense.
  const std::vector<std::pair<std::string, std::string>> samples = {
      {"office.docx", "KES00001.DOCX"},  {"office.xlsx", "KES00001.XLSX"},
      {"office.pptx", "KES00001.PPTX"},  {"commented.zip", "KES00001.ZIP"},
      {"stored.zip", "KES00002.ZIP"},    {"word.doc", "KES00001.DOC"},
      {"excel.xls", "KES00001.XLS"},     {"strips_le.tif", "KES00001.TIF"},
      {"strips_be.tif", "KES00002.TIF"}, {"moov_first.mov", "KES00001.MOV"},
      {"moov_last.mov", "KES00002.MOV"}};
  ImageBuilder image;
  for (const auto& [file, name] : samples) {
    image.AddRandom(2, 99, Filler::kRandomNoEndMarkers);
    image.AddFile(testing::StructuredSample(file), file);
    image.AddZeros(2);
  }
  image.AddZeros(8);
  TempDir dir;
  auto scan = ScanImage(image.bytes(), dir);
  ASSERT_EQ(scan->ui.rows.size(), samples.size());
  for (size_t i = 0; i < samples.size(); ++i) {
    SCOPED_TRACE(samples[i].first);
    const std::string& name = scan->ui.rows[i].name;
    EXPECT_EQ(name, samples[i].second);
    EXPECT_EQ(scan->File(name), testing::StructuredSample(samples[i].first));
  }
}

}  // namespace
}  // namespace kestrel
