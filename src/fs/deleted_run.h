#pragma once
// What the deleted-files drivers (FAT and NTFS) share during one run.

#include <cstdint>
#include <string>
#include <vector>

#include "run/file_types.h"
#include "run/run_context.h"
#include "sources/scan_source.h"

namespace kestrel {

class SettingsStore;

// How much of a deleted file is still there: all of it, some of its clusters taken by other
// files since, or its first cluster taken (nothing to recover).
enum class FileState { kIntact, kPartlyOverwritten, kOverwritten };

// One deleted file a run would bring back, listed before anything is copied.
struct DeletedFileListing {
  std::string path;  // inside the volume, "/DCIM/IMG_0001.JPG"
  uint64_t bytes = 0;
  FileState state = FileState::kIntact;
};

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
  std::string run_folder;   // ends with "/"
  bool keep_paths = false;  // recreate the volume's folders below the run folder
  DeletedReport report;
  std::string folder = "/";                            // the selected folder inside the volume
  std::vector<DeletedFileListing>* listing = nullptr;  // when set: list, write nothing
};

}  // namespace kestrel
