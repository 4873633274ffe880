#include "recover/undelete_loop.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>

#include "output/recovered_output.h"
#include "output/recovered_writer.h"
#include "platform/file_times.h"
#include "run/messages.h"

namespace kestrel {
namespace {

// Largest piece read at once, and between two polls for Cancel (readers may give less).
constexpr size_t kPieceBytes = 128 * 1024;

RunResult Ended(RunContext& run, RunOutcome outcome, int message_id) {
  RunResult result;
  result.outcome = outcome;
  result.recovered = run.recovered_count();
  result.message_id = message_id;
  return result;
}

RunResult Refused(RunContext& run, int message_id, MessageIcon icon) {
  run.ShowMessage(message_id, icon);
  return Ended(run, RunOutcome::kRefused, message_id);
}

// The end of a search that stops the run; nothing when the search is done.
std::optional<RunResult> SearchEnded(RunContext& run, SearchResult searched) {
  switch (searched) {
    case SearchResult::kDone:
      return std::nullopt;
    case SearchResult::kCancelled:
      return Ended(run, RunOutcome::kCancelled, 0);
    case SearchResult::kFolderNotFound:
      return Refused(run, msg::kFolderNotFound, MessageIcon::kStop);
    case SearchResult::kNoFileSystem:
      return Refused(run, msg::kNoFileSystem, MessageIcon::kInformation);
    case SearchResult::kOutOfMemory:
      return Ended(run, RunOutcome::kRefused, msg::kMemoryAllocationError);
    case SearchResult::kUnreadable:
      break;
  }
  return Ended(run, RunOutcome::kRefused, 0);
}

// Makes the run folder (its path is set, the folder not yet made); the refusal when it cannot
// be made or is a link.
std::optional<RunResult> CreateFolderOfRun(RunContext& run) {
  std::string folder = run.run_folder();
  if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  const int error = CreateRunFolder(folder);
  if (error == 0) return std::nullopt;
  // The folder and the system's reason go with the message, for front ends that show them.
  const int message_id = error == ELOOP ? msg::kFolderIsLink : msg::kCannotCreateFolder;
  run.ShowMessage(message_id, MessageIcon::kStop,
                  error == ELOOP ? folder : folder + ": " + std::strerror(error));
  return Ended(run, RunOutcome::kRefused, message_id);
}

std::string UnreadableText(const std::string& path) {
  return std::string(MessageText(msg::kCannotReadDevice)) + " " + path;
}

std::string UndecodableText(const std::string& path) {
  return std::string(MessageText(msg::kUndecodableData)) + " " + path;
}

std::string NotWrittenText(const NotWrittenFile& file) {
  return "Not written: " + file.path + " (" + file.reason + ")";
}

std::string OverwrittenText(uint32_t count) {
  return std::to_string(count) + (count == 1 ? " deleted file was" : " deleted files were") +
         " overwritten by other files and not recovered.";
}

class Undelete {
 public:
  Undelete(FileSystem& file_system, UndeleteRequest& request, const UndeleteReport* report)
      : fs_(file_system),
        request_(request),
        report_plan_(report),
        run_(request.run),
        ui_(request.run.ui()),
        writer_(request.run, request.run.run_folder()) {}

  RunResult Copy(const std::vector<DeletedFile>& files);

 private:
  void StartReport();
  // What the report says of `file` beyond what its copy gives.
  ReportedFile FactsOf(const DeletedFile& file, ReportedState state) const;
  void ReportNotWritten(const DeletedFile& file, ReportedState state, std::string reason = {});
  enum class Step { kNext, kCancelled, kStopped };
  Step CopyFile(const DeletedFile& file);
  Step Create(const DeletedFile& file);
  Step Stream(const DeletedFile& file, FileContent& content);
  // The copy failed after the file was created: the run stops on a full disk; any other
  // failure costs this file only.
  Step WriteFailed(const DeletedFile& file);
  void GiveUpUnreadable(const DeletedFile& file, int64_t failure);
  // A file that could not be created or written: named with `reason`, counted, the run goes on.
  void NotWritten(const DeletedFile& file, const std::string& reason);
  RunResult Complete(uint32_t files);
  // Reports the bytes done: the files before this one, and `in_file` bytes of this one.
  void ReportProgress(uint64_t in_file);

  FileSystem& fs_;
  UndeleteRequest& request_;
  const UndeleteReport* report_plan_;
  RunContext& run_;
  RunUi& ui_;
  std::unique_ptr<RunReport> report_;  // outlives the writer, which adds to it
  RecoveredWriter writer_;
  std::vector<uint8_t> buffer_;
  uint64_t bytes_total_ = 0;        // the sizes of all files found
  uint64_t bytes_before_file_ = 0;  // the sizes of the files dealt with so far
};

// Sizes come from the volume's structures: a crafted size cannot make the sum wrap.
uint64_t SaturatingAdd(uint64_t a, uint64_t b) {
  return b > UINT64_MAX - a ? UINT64_MAX : a + b;
}

void Undelete::ReportProgress(uint64_t in_file) {
  const uint64_t done = std::min(SaturatingAdd(bytes_before_file_, in_file), bytes_total_);
  run_.ReportProgress({Activity::kCopying, done, bytes_total_, 0, run_.recovered_count()});
}

RunResult Undelete::Copy(const std::vector<DeletedFile>& files) {
  try {
    buffer_.assign(kPieceBytes, 0);
  } catch (const std::bad_alloc&) {
    return Refused(run_, msg::kOutOfMemory, MessageIcon::kStop);
  }
  StartReport();
  run_.ShowStatusText(std::string(MessageText(msg::kCopyingFiles)));
  const auto count = static_cast<uint32_t>(std::min<size_t>(files.size(), UINT32_MAX));
  ui_.SetBarRange(0, count);
  ui_.SetBarPosition(0);
  for (const DeletedFile& file : files) bytes_total_ = SaturatingAdd(bytes_total_, file.bytes);
  ReportProgress(0);
  for (const DeletedFile& file : files) {
    const Step step = CopyFile(file);
    bytes_before_file_ = SaturatingAdd(bytes_before_file_, file.bytes);
    ReportProgress(0);
    switch (step) {
      case Step::kNext:
        continue;
      case Step::kCancelled:
        return Ended(run_, RunOutcome::kCancelled, 0);
      case Step::kStopped:
        return Ended(run_, RunOutcome::kStopped, writer_.failure_message());
    }
  }
  return Complete(count);
}

void Undelete::StartReport() {
  if (report_plan_ == nullptr || !report_plan_->choice.enabled) return;
  std::string error;
  report_ = RunReport::Start(report_plan_->choice, run_.run_folder(), report_plan_->source, &error);
  if (!report_) {
    run_.ShowStatusText("No report: " + error);
    return;
  }
  writer_.AttachReport(report_.get());
}

ReportedFile Undelete::FactsOf(const DeletedFile& file, ReportedState state) const {
  ReportedFile facts;
  facts.original_path = (file.folder == "/" ? "/" : file.folder + "/") + file.name_as_read;
  facts.size = file.bytes;
  facts.state = state;
  facts.allocated = false;
  facts.modified = file.times.modified;
  facts.accessed = file.times.accessed;
  facts.created = file.times.created;
  return facts;
}

void Undelete::ReportNotWritten(const DeletedFile& file, ReportedState state, std::string reason) {
  ReportedFile facts = FactsOf(file, state);
  facts.reason = std::move(reason);
  writer_.ReportNotWritten(facts);
}

Undelete::Step Undelete::CopyFile(const DeletedFile& file) {
  if (!request_.types.IsExtensionWanted(file.type_extension)) return Step::kNext;
  if (run_.PollCancel()) return Step::kCancelled;
  run_.PumpMessages();
  if (file.state == FileState::kOverwritten) {
    ++request_.report.overwritten;
    ReportNotWritten(file, ReportedState::kOverwritten);
    return Step::kNext;
  }
  if (file.name.empty()) return Step::kNext;
  return Create(file);
}

// Creates the file (below its own folder with kept paths; "." and ".." become "_" there) and
// copies it. A file that does not fit in the free space, or that cannot be created, is named
// and counted as not written, and the run goes on.
Undelete::Step Undelete::Create(const DeletedFile& file) {
  std::unique_ptr<FileContent> content = fs_.OpenContent(file);
  if (!content) {
    ReportNotWritten(file, ReportedState::kUnreadable);
    return Step::kNext;
  }
  if (!writer_.HasRoomFor(content->StoredBytes())) {
    NotWritten(file, writer_.failure_reason());
    return Step::kNext;
  }
  const std::string folder = request_.keep_paths ? KeptPathOf(file.folder) : std::string();
  const FileErrorCause created = writer_.CreateNamed(folder, file.name, file.name_as_read);
  if (created == FileErrorCause::kDiskFull) {
    writer_.ReportFailure(created, writer_.path());
    return Step::kStopped;
  }
  if (created != FileErrorCause::kNone) {
    NotWritten(file, writer_.failure_reason());
    return Step::kNext;
  }
  ReportedFile facts =
      FactsOf(file, file.state == FileState::kPartlyOverwritten ? ReportedState::kPartlyOverwritten
                                                                : ReportedState::kRecovered);
  for (const ByteRun& run : content->Runs()) {
    facts.runs.push_back({run.file_offset, run.volume_offset, run.length, run.sparse});
  }
  writer_.DescribeOpen(std::move(facts));
  const Step streamed = Stream(file, *content);
  ui_.SetFileBar(0, 0);
  if (streamed != Step::kNext || !writer_.is_open()) return streamed;
  ApplyFatAttributes(writer_.descriptor(), file.dos_attributes);
  if (!writer_.Keep()) return WriteFailed(file);
  // The file is whole under its name before it gets its old times: a run stopped in between
  // leaves it with the time of recovery, never a part of it with the old ones.
  SetFileTimes(writer_.path(), file.times.modified, file.times.accessed);
  run_.PumpMessages();
  ui_.StepBar();
  return Step::kNext;
}

// Streams the content to the writer piece by piece, polling Cancel before each piece; holes
// stay holes. A copy that is cancelled, unreadable or fails to write leaves no file behind.
Undelete::Step Undelete::Stream(const DeletedFile& file, FileContent& content) {
  while (!content.at_end()) {
    ui_.SetFileBar(content.position() * 100 / content.length(), 100);
    ReportProgress(content.position());
    if (run_.PollCancel()) {
      writer_.Discard();
      return Step::kCancelled;
    }
    run_.PumpMessages();
    if (const uint64_t hole = content.SkipHole(); hole != 0) {
      if (!writer_.AppendHole(hole)) return WriteFailed(file);
      continue;
    }
    const int64_t got = content.ReadNext(buffer_.data(), buffer_.size());
    if (got <= 0) {
      GiveUpUnreadable(file, got);
      return Step::kNext;
    }
    if (!writer_.Write(buffer_.data(), static_cast<size_t>(got))) return WriteFailed(file);
  }
  return Step::kNext;
}

Undelete::Step Undelete::WriteFailed(const DeletedFile& file) {
  writer_.Discard();
  if (writer_.stopped()) return Step::kStopped;
  NotWritten(file, writer_.failure_reason());
  return Step::kNext;
}

// One unreadable or undecodable file costs that file only: it is removed, named once, and the
// copy goes on.
void Undelete::GiveUpUnreadable(const DeletedFile& file, int64_t failure) {
  writer_.Discard();
  ReportNotWritten(file, failure == FileContent::kUndecodable ? ReportedState::kUndecodable
                                                              : ReportedState::kUnreadable);
  if (failure == FileContent::kUndecodable) {
    request_.report.undecodable.push_back(file.VolumePath());
    run_.ShowStatusText(UndecodableText(file.VolumePath()));
    return;
  }
  request_.report.unreadable.push_back(file.VolumePath());
  run_.ShowStatusText(UnreadableText(file.VolumePath()));
}

void Undelete::NotWritten(const DeletedFile& file, const std::string& reason) {
  request_.report.not_written.push_back({file.VolumePath(), reason});
  ReportNotWritten(file, ReportedState::kNotWritten, reason);
  run_.ShowStatusText(NotWrittenText(request_.report.not_written.back()));
  ui_.StepBar();
}

RunResult Undelete::Complete(uint32_t files) {
  const DeletedReport& report = request_.report;
  if (!report.not_written.empty()) {
    run_.ShowStatusText(NotWrittenText(report.not_written.back()));
  } else if (report.overwritten != 0) {
    run_.ShowStatusText(OverwrittenText(report.overwritten));
  } else if (!report.undecodable.empty()) {
    run_.ShowStatusText(UndecodableText(report.undecodable.back()));
  } else {
    run_.ShowStatusText(report.unreadable.empty() ? "" : UnreadableText(report.unreadable.back()));
  }
  ui_.SetBarPosition(files);
  const auto not_written = static_cast<uint32_t>(report.not_written.size());
  if (not_written != 0) {
    // Files were lost on the way: the run does not claim plain success.
    run_.ShowMessage(msg::kCompletedWithFilesNotWritten, MessageIcon::kStop,
                     std::to_string(not_written));
    RunResult result = Ended(run_, RunOutcome::kCompleted, msg::kCompletedWithFilesNotWritten);
    result.not_written = not_written;
    return result;
  }
  const int message_id = run_.recovered_count() > 0 ? msg::kCompleted : msg::kNothingFound;
  run_.ShowMessage(message_id, MessageIcon::kNone);
  return Ended(run_, RunOutcome::kCompleted, message_id);
}

}  // namespace

RunResult UndeleteFiles(FileSystem& file_system, UndeleteRequest& request,
                        const UndeleteReport* report) {
  RunContext& run = request.run;
  std::vector<DeletedFile> files;
  if (std::optional<RunResult> ended =
          SearchEnded(run, file_system.FindDeleted(request.folder, run, &files))) {
    return *ended;
  }
  run.ui().SetFieldText(ProgressField::kPercent, "");
  if (request.listing == nullptr) {
    if (const std::optional<RunResult> refused = CreateFolderOfRun(run)) return *refused;
    return Undelete(file_system, request, report).Copy(files);
  }
  for (const DeletedFile& file : files) {
    if (!request.types.IsExtensionWanted(file.type_extension) || file.name.empty()) continue;
    request.listing->push_back({file.VolumePath(), file.name_as_read, file.bytes, file.state});
  }
  return Ended(run, RunOutcome::kCompleted, 0);
}

}  // namespace kestrel
