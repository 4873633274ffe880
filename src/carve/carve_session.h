#pragma once
// Everything a carving routine acts on during one raw scan: the carving state, the open output
// file, the run's progress operations and the source (for routines that measure a file from its
// own structure). One object per run; nothing global.

#include <array>
#include <cstdint>
#include <map>
#include <string>

#include "carve/carve_state.h"
#include "carve/sector_input.h"
#include "platform/byte_source.h"
#include "platform/output_file.h"
#include "run/run_context.h"

namespace kestrel {

class CarveSession {
 public:
  CarveSession(RunContext& run, ByteSource& source) : run_(run), source_(source) {}

  CarveState st;
  RunContext& run() { return run_; }
  ByteSource& source() { return source_; }
  OutputFile& out() { return out_; }
  const std::string& path() const { return out_.path(); }

  // Run folder (ends with "/") and the recovery folder named in the disk-full message.
  std::string run_folder;
  std::string recovery_folder_text;
  // Types selected for this run (bit per type code); renames by content consult it.
  uint64_t selected_mask = kAllFileTypesMask;
  // Type code of the file opened last.
  uint8_t last_type_code = 0;

  // Names and creates the output file for a new file of type `code` with `extension`. Numbers
  // go per extension: the first file of an extension in a run continues after the highest
  // number in the run folder, later ones count on from there, and the number of a file that was
  // not kept is used again. An existing file is never reused: a taken name takes the next number.
  // On success sets file_open, the type's open bit and last_type_code. False when it could not be
  // created (nothing is reported).
  bool OpenOutput(uint8_t code, const std::string& extension, bool readable = false);

  // Appends bytes to the open file. A full disk sets stop_scan and shows message 57441 with the
  // recovery folder; any other failure shows message 127 with the file's path, deletes the
  // damaged file and sets stop_scan, so it is never listed.
  void Write(const uint8_t* data, size_t length);
  void Write(const SectorInput& in, size_t length) { Write(in.data, length); }

  // Closes the open file and lists it: AddRecoveredFile, recovered count + 1 shown. False when
  // the file was damaged by a failed write (then it is deleted, not listed).
  bool CloseAndList();

  // The common finish of an open carved file: keeps a complete file (cut to its end marker for
  // GIF and JPEG) and deletes an incomplete one; clears the open flags.
  void FinishCarvedFile(uint8_t code);

  // Renames a kept file to the next free name with `extension`. Returns the new path, or empty
  // when the rename failed.
  std::string MoveToExtension(const std::string& current_path, const std::string& extension);

  // Clears the per-file open flags that the common finish clears.
  void ClearOpenFlags();

  bool write_failed() const { return write_failed_; }

  // Stops the scan and reports a failed write or close: message 57441 naming the recovery
  // folder when the disk is full, otherwise message 127 naming the file.
  void ReportWriteFailure(FileErrorCause cause, const std::string& file_path);

 private:
  uint64_t NextNumber(const std::string& extension);
  // The number is used by a kept file: the next file of the extension counts on from it.
  void CommitNumber(const std::string& extension, uint64_t number);
  void ReleaseNumber(const std::string& moved_path);
  RunContext& run_;
  ByteSource& source_;
  OutputFile out_;
  bool write_failed_ = false;
  std::map<std::string, uint64_t> next_number_;
  std::string open_extension_;
  uint64_t open_number_ = 0;
};

}  // namespace kestrel
