#pragma once
// The driver of the "Recover deleted files" mode: opens the selected volume, opens its file
// system through the probe table (volumes without a usable file system refused), makes the
// run folder, and brings back the deleted files below the selected folder.

#include <string>
#include <vector>

#include "recover/undelete_loop.h"
#include "run/file_types.h"
#include "run/run_context.h"
#include "run/run_outcome.h"
#include "sources/drive_enumeration.h"

namespace kestrel {

// The volume a run reads: a volume of the device map, or a device node or image file.
struct DeletedSource {
  const VolumeEntry* volume = nullptr;
  std::string path;  // used when `volume` is null
};

// Choices beyond the window's: the volume's folders recreated below the run folder, where to
// leave what the run found beyond the files it wrote, and a listing instead of a copy.
struct DeletedOptions {
  bool keep_paths = false;
  DeletedReport* report = nullptr;
  // When set, the run lists every deleted file it would recover into it and creates nothing:
  // no day folder, no file, no closing message (refusals are shown as in a copy).
  std::vector<DeletedFileListing>* listing = nullptr;
  // The run's report in the run folder (none for a listing).
  ReportChoice dfxml;
};

// What the front end resolved for one run of the mode, from its arguments and, where the user
// chose nothing, from the settings (ApplyStoredChoices): the driver reads no settings.
struct DeletedPlan {
  DeletedSource source;
  // The folder inside the volume ("" or "/" for the whole volume, e.g. "/DCIM/100CANON").
  std::string folder = "/";
  // The run's selection with its "Scan File" choice: which files the type filter lets through.
  FileTypeSelection types;
  // The folder below which the day folder is made (empty: the default folder).
  std::string recovery_folder;
  DeletedOptions options;
};

// Runs the mode. Every refusal, failure and the closing message go through the run's RunUi; the
// result tells the front end how the run ended.
RunResult RecoverDeletedFiles(RunContext& run, const DeletedPlan& plan);

}  // namespace kestrel
