#include "support/memory_scan.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "carve/carve_engine.h"
#include "carve/dispatch.h"
#include "output/output_naming.h"
#include "platform/testing/source_doubles.h"
#include "recover/chunk_reader.h"
#include "recover/raw_scan.h"
#include "run/run_context.h"
#include "run/silent_run_ui.h"

namespace kestrel::testing {

std::vector<MemoryWriter::File> CarveInMemory(const std::vector<uint8_t>& image,
                                              const TypeSet& selected, SectorDispatch dispatch) {
  MemorySource source(image);
  SilentRunUi ui;
  RunContext run(ui);
  MemoryWriter writer(run);
  CarveEngine engine(writer, source, selected);
  const uint64_t sectors = (image.size() + 511) / 512;
  ChunkReader reader(source, sectors);
  for (uint64_t sector = 0; sector < sectors; sector += kChunkSectors) {
    const uint32_t count =
        static_cast<uint32_t>(std::min<uint64_t>(kChunkSectors, sectors - sector));
    reader.Load(sector, count);
    for (uint32_t i = 0; i < count; ++i) dispatch(engine, reader.Sector(sector + i));
  }
  engine.Finish();
  return writer.kept();
}

std::vector<std::vector<uint8_t>> CarvedBytes(const std::vector<uint8_t>& image,
                                              const TypeSet& selected) {
  std::vector<std::vector<uint8_t>> files;
  for (auto& file : CarveInMemory(image, selected)) files.push_back(std::move(file.bytes));
  return files;
}

void ExpectedFiles::Add(const std::string& extension, std::vector<uint8_t> bytes) {
  files_.push_back({CarvedName("KES", ++numbers_[extension], extension), std::move(bytes)});
}

void ExpectCarved(const std::vector<uint8_t>& image, const ExpectedFiles& expected,
                  const TypeSet& selected) {
  const auto carved = CarveInMemory(image, selected);
  std::vector<std::string> names;
  for (const auto& file : carved) names.push_back(file.name);
  std::vector<std::string> expected_names;
  for (const auto& file : expected.files()) expected_names.push_back(file.name);
  ASSERT_EQ(names, expected_names);
  for (size_t i = 0; i < carved.size(); ++i) {
    SCOPED_TRACE(carved[i].name);
    EXPECT_EQ(carved[i].bytes, expected.files()[i].bytes);
  }
}

}  // namespace kestrel::testing
