#pragma once
// The one writer of recovered files, for both recovery modes. It names and creates each file
// exclusively (never replacing one), writes it through a buffer, cuts it, gives it its final
// name, lists it (AddRecoveredFile) and counts it, and reports a failed write: message 57441
// naming the run folder when the disk is full, message 127 naming the file otherwise. A failed
// write loses that file and stops the run, except for a restored file that failed for another
// reason than a full disk: that costs the file only, and failure_reason() tells why. With a run
// report attached, every kept file goes into it with the digests of its bytes as written and
// where they lay on the source, and files found but not written go into it too. Every file
// and folder is created relative to the run folder opened once, never through a link. Its
// operations are virtual so that carving can be tested and fuzzed into memory.

#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <string>

#include "platform/folder_handle.h"
#include "platform/output_file.h"
#include "report/reported_file.h"
#include "report/run_report.h"
#include "report/written_digest.h"
#include "run/run_context.h"

namespace kestrel {

// A carved file set aside while another is written, with its extension, number and whether it
// lost bytes.
struct AsideFile {
  OutputFile out;
  std::string extension;
  uint64_t number = 0;
  bool failed = false;
  std::optional<WrittenDigest> digest;
};

class RecoveredWriter {
 public:
  static constexpr uint64_t kNoCut = std::numeric_limits<uint64_t>::max();

  // `run_folder` ends with "/".
  RecoveredWriter(RunContext& run, std::string run_folder);
  virtual ~RecoveredWriter() = default;
  RecoveredWriter(const RecoveredWriter&) = delete;
  RecoveredWriter& operator=(const RecoveredWriter&) = delete;

  // A carved file "KES" + number + "." + extension. Numbers go per extension: the first file of
  // an extension continues after the highest number in the run folder, the number of a file not
  // kept is used again, and a taken name takes the next number. False when no file could be
  // created: the run is stopped with the reason (no carved file can be written after it).
  virtual bool CreateNumbered(const std::string& extension);
  // A restored file `name` in the folder `relative_folder` ("" or "A/B/", made when missing) of
  // the run folder, or its " - Copy(k)" form when that name is taken (by a file or by the
  // partial file of one being written). A name taken between the test and the create costs one
  // more name, not more. A folder that is a link, or not a folder, is never entered. On a
  // failure nothing is reported; failure_reason() tells why. `name_as_read` (the file's name as
  // its volume gives it) goes with its listing.
  FileErrorCause CreateNamed(const std::string& relative_folder, const std::string& name,
                             const std::string& name_as_read = {});
  // Whether the run folder's file system has room for `bytes` more; when not, failure_reason()
  // says how much is needed and free.
  bool HasRoomFor(uint64_t bytes);
  // Why the last restored file could not be created or written.
  const std::string& failure_reason() const { return failure_reason_; }

  virtual bool is_open() const { return out_.is_open(); }
  // The name the open file gets when it is kept.
  const std::string& path() const { return out_.path(); }
  virtual uint64_t length() const { return out_.Length(); }
  // The open file's descriptor (its attributes are set through it before it is kept).
  int descriptor() const { return out_.descriptor(); }

  // The report kept files and files not written go into (null: none). Attached before the
  // first file is created; it outlives the writer.
  void AttachReport(RunReport* report) { report_ = report; }
  // What the report says of the open file when it is kept beyond its name, size and digests:
  // where its bytes lay on the source (cut to its final length), and for a restored file its
  // original path, times, allocation and state.
  void DescribeOpen(ReportedFile facts) { open_facts_ = std::move(facts); }
  void SetOpenRuns(std::vector<ReportRun> runs) { open_facts_.runs = std::move(runs); }
  // A file found but not written, with its state.
  void ReportNotWritten(const ReportedFile& file) {
    if (report_ != nullptr) report_->Add(file);
  }

  // Appends bytes. False when the file has lost bytes (now or before); the first failure is
  // reported and stops the run.
  virtual bool Write(const uint8_t* data, size_t length);
  // Appends `length` zero bytes as a hole (nothing written where the file system has holes).
  // Fails as Write does.
  bool AppendHole(uint64_t length);
  // The open file has lost bytes: it can only be discarded.
  bool failed() const { return failed_; }
  // A failed write or close stopped the run.
  bool stopped() const { return stopped_; }
  void ClearStop() { stopped_ = false; }

  // Closes the open file, cut to `cut` bytes when it is longer, under the next free number of
  // `extension` when one is given (a carved file whose content names its real type), lists it
  // with `listed_size` (its length when kNoCut) and counts it. False when the file was lost
  // (a failure is reported).
  virtual bool Keep(uint64_t cut = kNoCut, const std::string& extension = {},
                    uint64_t listed_size = kNoCut);
  // Closes the open carved file, which is not whole, in the "partial/" folder of the run folder
  // under that folder's next free number of `extension` (or of the extension it was opened
  // with), cut to `cut` bytes when it is longer. It is listed apart from the recovered files and
  // not counted. False when it was lost (a failure is reported).
  virtual bool KeepNotWhole(uint64_t cut = kNoCut, const std::string& extension = {});
  // Cuts the open file back to `length` bytes (it takes the bytes after them again).
  virtual void CutOpen(uint64_t length);
  // The open carved file waits while another file is written (a file found in its gap): no
  // file is open until TakeBack, which makes it the open file again. One at a time.
  virtual void SetAside();
  virtual void TakeBack();
  // Deletes the open file; it is never listed.
  virtual void Discard();
  // The report of a failed create, write or close; stops the run.
  void ReportFailure(FileErrorCause cause, const std::string& path);
  // The next number to try per extension of carved files, in the run folder and in its
  // "partial/" folder (extensions not written yet are missing).
  const std::map<std::string, uint64_t>& next_numbers() const { return next_number_; }
  const std::map<std::string, uint64_t>& next_not_whole_numbers() const {
    return next_not_whole_number_;
  }
  // The message of the failure reported last (57441 or 127); 0 while none was.
  int failure_message() const { return failure_message_; }

 protected:
  RunContext& run() { return run_; }
  bool failed_ = false;
  bool stopped_ = false;
  int failure_message_ = 0;

 private:
  uint64_t NextNumber(const std::string& extension);
  // Whether files are hashed (they are then opened readable: a cut takes bytes back).
  bool WantsDigests() const { return report_ != nullptr && !report_->digests().empty(); }
  // A new file was opened: no facts, and its digests from its first byte.
  void StartOpenReport();
  // Takes the open file's digests back to its first `length` bytes.
  void CutDigest(uint64_t length);
  // The kept file `path` of `length` bytes into the report.
  void ReportKept(const std::string& path, uint64_t length, ReportedState state);
  // A write, cut or close of the open file failed: the report (which stops the run), or for a
  // restored file failing for another reason than a full disk only failure_reason().
  void WriteFailed(FileErrorCause cause, const std::string& path);
  // The folder `relative_folder` of the run folder, opened (and made) component by component;
  // not open, with failure_reason() set, when one cannot be.
  const FolderHandle& NamedFolder(const std::string& relative_folder);
  // The next free name of `extension` in the "partial/" folder (made when missing); empty when
  // none is free or the folder cannot be made.
  std::string FreeNotWholeName(const std::string& extension);
  // The next free name of `extension` for a kept file; empty when none is free.
  std::string FreeNumberedName(const std::string& extension, uint64_t* number);

  RunContext& run_;
  std::string run_folder_;
  FolderHandle run_dir_;  // the run folder, opened once
  int run_dir_error_ = 0;
  FolderHandle not_whole_dir_;  // its "partial/" folder, once needed
  // The folder of the last restored file and its path relative to the run folder.
  FolderHandle named_dir_;
  std::string named_dir_path_;
  std::string failure_reason_;
  OutputFile out_;
  // The next number to try per extension, and the open carved file's extension and number.
  std::map<std::string, uint64_t> next_number_;
  std::map<std::string, uint64_t> next_not_whole_number_;  // the same in "partial/"
  std::string open_extension_;
  uint64_t open_number_ = 0;
  // Per wanted path of a restored file, the copy number its next clash tries first (0: the name
  // itself), and the wanted path and copy number of the open restored file.
  std::map<std::string, uint64_t> next_copy_;
  std::optional<AsideFile> aside_;
  std::string open_wanted_;
  uint64_t open_copy_ = 0;
  std::optional<std::string> open_name_as_read_;  // of the restored file last created
  RunReport* report_ = nullptr;
  ReportedFile open_facts_;
  std::optional<WrittenDigest> digest_;  // of the open file, while a report wants digests
};

}  // namespace kestrel
