#pragma once
// The recovery loop of the "Recover deleted files" mode, the same for every file system: the
// deleted files below the selected folder, filtered by type, listed or written one by one
// through RecoveredWriter, and the run's closing message.

#include <cstdint>
#include <string>
#include <vector>

#include "fs/file_system.h"
#include "report/run_report.h"
#include "run/file_types.h"
#include "run/run_context.h"
#include "run/run_outcome.h"

namespace kestrel {

// One deleted file a run would bring back, listed before anything is copied.
struct DeletedFileListing {
  std::string path;          // inside the volume, "/DCIM/IMG_0001.JPG", made of written names
  std::string name_as_read;  // the file's name as the volume gives it
  uint64_t bytes = 0;
  FileState state = FileState::kIntact;
};

// A file the run could not write, with its path inside the volume and why.
struct NotWrittenFile {
  std::string path;
  std::string reason;
};

// What a run found beyond the files it wrote.
struct DeletedReport {
  uint32_t overwritten = 0;                 // deleted files whose clusters now hold other files
  std::vector<std::string> unreadable;      // files given up because a read failed
  std::vector<std::string> undecodable;     // files given up because their compressed data is bad
  std::vector<NotWrittenFile> not_written;  // files that could not be created or written
};

struct UndeleteRequest {
  RunContext& run;                 // its run folder (ending with "/") receives the files
  const FileTypeSelection& types;  // with its "Scan File" choice, as the front end resolved it
  std::string folder = "/";        // the selected folder inside the volume
  bool keep_paths = false;         // recreate the volume's folders below the run folder
  // When set, every file the run would recover is listed there and nothing is written.
  std::vector<DeletedFileListing>* listing = nullptr;
  DeletedReport report;
};

// The report a run writes into its run folder (digests, byte runs, original times), and the
// source it names.
struct UndeleteReport {
  ReportChoice choice;
  ReportSource source;
};

// Searches `file_system` and brings the files back. A refusal of the search (folder not found,
// unusable geometry) shows its message; the run folder is made only after the search, so a run
// refused there creates nothing. A cancel, a full disk (57441) or unreadable file-system
// structures (no message) end the run without a closing message; otherwise the run ends with 112 or
// 1193 (none for a listing), or with 70006 when files could not be written. A file that cannot be
// read or decoded costs that file only: it is deleted, named in the status text and the report, and
// the run goes on. Overwritten files are counted, not written. A file that cannot be created or
// written (a path the recovery folder refuses, a link where a folder should be, too little free
// space for it, a write error other than a full disk) is not listed: it is named with the reason in
// the status text and the report, counted in RunResult::not_written, and the run goes on.
// With `report`, the run writes it (not for a listing).
RunResult UndeleteFiles(FileSystem& file_system, UndeleteRequest& request,
                        const UndeleteReport* report = nullptr);

}  // namespace kestrel
