// Feeds arbitrary bytes, as a source of sectors, through the signature dispatch and every
// format it starts, with the driver's look-behind and look-ahead windows, and checks that the
// first look at each sector lets every matching signature row through. Carved files are kept
// in memory, so every execution costs only the carving itself.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "carve/carve_engine.h"
#include "carve/dispatch.h"
#include "platform/testing/source_doubles.h"
#include "recover/chunk_reader.h"
#include "run/run_context.h"
#include "run/silent_run_ui.h"
#include "support/memory_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4 * 1024 * 1024) return 0;
  kestrel::MemorySource source(std::vector<uint8_t>(data, data + size));
  kestrel::SilentRunUi ui;
  kestrel::RunContext run(ui);
  kestrel::testing::MemoryWriter writer(run);
  kestrel::CarveEngine engine(writer, source, kestrel::kAllFileTypesMask);
  const uint64_t sectors = (size + 511) / 512;
  kestrel::ChunkReader reader(source, sectors, 256);
  for (uint64_t sector = 0; sector < sectors; sector += 64) {
    const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(64, sectors - sector));
    reader.Load(sector, count);
    for (uint32_t i = 0; i < count; ++i) {
      const kestrel::SectorInput in = reader.Sector(sector + i);
      // The first look at a sector must let every matching signature row through.
      if ((kestrel::RowsMatchingSector(engine, in) & ~kestrel::RowsTriedOnSector(in)) != 0) {
        __builtin_trap();
      }
      if (kestrel::DispatchSector(engine, in) == kestrel::DispatchVerdict::kStopScan) {
        break;
      }
    }
  }
  engine.Finish();
  return 0;
}
