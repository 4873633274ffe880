#pragma once
// What the deleted-files drivers (FAT and NTFS) share during one run.

#include <string>

#include "disk/scan_source.h"
#include "run/file_types.h"
#include "run/run_context.h"

namespace kestrel {

class SettingsStore;

struct DeletedRun {
  RunContext& run;
  FileTypeSelection& types;
  SettingsStore& settings;
  ScanSource& source;
  std::string run_folder;       // ends with "/"
  std::string recovery_folder;  // shown in message 57441
};

}  // namespace kestrel
