#pragma once
// What the deleted-files drivers (FAT and NTFS) share during one run.

#include <cstdint>
#include <string>
#include <vector>

#include "disk/scan_source.h"
#include "run/file_types.h"
#include "run/run_context.h"

namespace kestrel {

class SettingsStore;

// What a run found beyond the files it wrote.
struct DeletedReport {
  uint32_t overwritten = 0;             // deleted files whose clusters now hold other files
  std::vector<std::string> unreadable;  // files given up because a read failed
};

struct DeletedRun {
  RunContext& run;
  FileTypeSelection& types;
  SettingsStore& settings;
  ScanSource& source;
  std::string run_folder;       // ends with "/"
  std::string recovery_folder;  // shown in message 57441
  bool keep_paths = false;      // recreate the volume's folders below the run folder
  DeletedReport report;
};

}  // namespace kestrel
