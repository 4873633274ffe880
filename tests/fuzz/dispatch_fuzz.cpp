// Feeds arbitrary bytes, as a source of sectors, through the signature dispatch and every
// carving routine it starts, with the driver's look-behind and look-ahead windows. The output
// files go to a private folder that is emptied after every input.

#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "carve/carve_session.h"
#include "disk/scan_source.h"
#include "platform/testing/source_doubles.h"
#include "run/run_context.h"
#include "run/silent_run_ui.h"
#include "scan/chunk_reader.h"
#include "scan/dispatch.h"

namespace {

const std::string& OutputFolder() {
  static const std::string folder = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "kestrel-fuzz-XXXXXX").string();
    return std::string(mkdtemp(pattern.data())) + "/";
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4 * 1024 * 1024) return 0;
  kestrel::MemorySource source(std::vector<uint8_t>(data, data + size));
  kestrel::SilentRunUi ui;
  kestrel::RunContext run(ui);
  kestrel::CarveSession session(run, source);
  session.run_folder = OutputFolder();
  session.recovery_folder_text = session.run_folder;
  const uint64_t sectors = (size + 511) / 512;
  kestrel::ChunkReader reader(source, sectors, 256);
  for (uint64_t sector = 0; sector < sectors; sector += 64) {
    const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(64, sectors - sector));
    reader.Load(sector, count);
    for (uint32_t i = 0; i < count; ++i) {
      if (kestrel::DispatchSector(session, reader.Sector(sector + i)) ==
          kestrel::DispatchVerdict::kStopScan) {
        break;
      }
    }
  }
  session.FinishCarvedFile(session.last_type_code);
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(OutputFolder(), ec)) {
    std::filesystem::remove(entry.path(), ec);
  }
  return 0;
}
