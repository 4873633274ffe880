#include "fs/ntfs/ntfs_recovery.h"

#include <optional>
#include <string>
#include <vector>

#include "fs/fat/fat_folders.h"
#include "fs/ntfs/ntfs_name.h"
#include "fs/ntfs/ntfs_paths.h"
#include "fs/ntfs/ntfs_volume.h"
#include "output/recovered_output.h"
#include "output/recovered_writer.h"
#include "run/messages.h"

namespace kestrel {
namespace {

// Records 0 to 9 are the volume's own metadata files ($MFT to $Secure), never deleted files.
constexpr uint64_t kFirstExaminedRecord = 10;
constexpr uint64_t kBitmapRecord = 6;

enum class Outcome { kNext, kStop };

std::string UnreadableText(const std::string& path) {
  return std::string(MessageText(msg::kCannotReadDevice)) + " " + path;
}

class NtfsRecovery {
 public:
  explicit NtfsRecovery(DeletedRun& run)
      : run_(run),
        context_(run.run),
        ui_(run.run.ui()),
        drive_(*run.source.bytes),
        paths_(drive_),
        writer_(run.run, run.run_folder),
        whole_volume_(SplitFolderPath(run.folder).empty()) {}

  // How the record loop ended: kCompleted when it ran to its end (no closing message yet);
  // kCancelled, kStopped by a failed write (its message shown and named), or kRefused when the
  // MFT or a record could not be read (no message).
  RunResult Run();

 private:
  bool Cancelled();
  // Loads the MFT and prepares the record loop; false when the MFT cannot be had.
  bool Load();
  bool ExamineRecords();
  Outcome RecoverFile(uint64_t record, const NtfsFileDetail& detail);
  bool LoadBitmap();
  FileState StateOf(const NtfsAttributeValue& value) const;
  // Writes one file to `wanted_path`; `volume_path` names it in a report.
  Outcome WriteFile(const std::string& wanted_path, const std::string& volume_path,
                    NtfsDataReader& data);
  enum class CopyEnd { kCopied, kUnreadable, kStop };
  CopyEnd CopyData(NtfsDataReader& data);
  void GiveUpUnreadable(const std::string& volume_path);
  void ShowFileBar(uint64_t done, uint64_t total);

  DeletedRun& run_;
  RunContext& context_;
  RunUi& ui_;
  NtfsDrive drive_;
  NtfsPaths paths_;
  RecoveredWriter writer_;
  const bool whole_volume_;
  std::vector<uint8_t> buffer_;  // one piece of file content, reused for every file
  std::vector<uint8_t> bitmap_;  // $Bitmap, for a listing: which clusters are in use now
  bool cancelled_ = false;
};

RunResult NtfsRecovery::Run() {
  RunResult result;
  if (Load() && ExamineRecords()) {
    result.outcome = RunOutcome::kCompleted;
  } else if (cancelled_) {
    result.outcome = RunOutcome::kCancelled;
  } else if (writer_.stopped()) {
    result.outcome = RunOutcome::kStopped;
    result.message_id = writer_.failure_message();
  }
  return result;
}

// Polls Cancel; true (and noted) when it was answered Yes.
bool NtfsRecovery::Cancelled() {
  if (context_.PollCancel()) cancelled_ = true;
  return cancelled_;
}

bool NtfsRecovery::Load() {
  const int loaded = drive_.LoadMft([this](uint64_t, uint64_t) {
    if (Cancelled()) return false;
    context_.PumpMessages();
    return true;
  });
  if (loaded != ntfs_error::kOk) return false;
  ui_.SetBarRange(0, 100);
  ui_.SetBarPosition(0);
  if (run_.types.mask.None()) run_.types.LoadFileTypeMask(run_.settings);
  context_.recovered_count = 0;
  context_.ShowRecoveredCount();
  buffer_.resize(kNtfsPieceBytes);
  if (run_.listing != nullptr && !LoadBitmap()) bitmap_.clear();
  return true;
}

bool NtfsRecovery::ExamineRecords() {
  const uint64_t count = drive_.record_count();
  const uint64_t steps = count > kFirstExaminedRecord ? count - kFirstExaminedRecord : 0;
  const std::string copying(MessageText(msg::kCopyingFiles));
  for (uint64_t i = 0; i < steps; ++i) {
    context_.ShowStatusText(copying);
    ui_.SetBarPosition(static_cast<uint32_t>(i * 100 / steps));
    ui_.Repaint();
    if (Cancelled()) return false;
    context_.PumpMessages();
    const uint64_t record = kFirstExaminedRecord + i;
    NtfsFileDetail detail;
    const int error = drive_.GetFileDetail(record, &detail);
    if (error == ntfs_error::kNoMoreRecords) break;
    if (error == ntfs_error::kBadRecord) continue;
    if (error != ntfs_error::kOk) return false;
    if (!detail.deleted || detail.directory || detail.extension) continue;
    if (RecoverFile(record, detail) == Outcome::kStop) return false;
  }
  return true;
}

// The volume's cluster bitmap, read whole (one bit per cluster).
bool NtfsRecovery::LoadBitmap() {
  std::optional<NtfsDataReader> data;
  if (drive_.ReadFileData(kBitmapRecord, &data) != ntfs_error::kOk) return false;
  const uint64_t wanted = (drive_.volume_clusters() + 7) / 8;
  if (data->length() < wanted) return false;
  bitmap_.resize(static_cast<size_t>(wanted));
  for (size_t done = 0; done < bitmap_.size();) {
    const int64_t got = data->ReadNext(bitmap_.data() + done, bitmap_.size() - done);
    if (got <= 0) return false;
    done += static_cast<size_t>(got);
  }
  return true;
}

// A deleted file's clusters that the bitmap gives out again hold other data now.
FileState NtfsRecovery::StateOf(const NtfsAttributeValue& value) const {
  if (value.resident || bitmap_.empty()) return FileState::kIntact;
  uint64_t used = 0;
  uint64_t total = 0;
  for (const DataRun& run : value.runs) {
    if (run.sparse) continue;
    for (uint64_t c = run.lcn; c < run.lcn + run.cluster_count; ++c) {
      if (c / 8 < bitmap_.size() && (bitmap_[c / 8] >> (c % 8)) & 1) ++used;
    }
    total += run.cluster_count;
  }
  if (used == 0) return FileState::kIntact;
  return used == total ? FileState::kOverwritten : FileState::kPartlyOverwritten;
}

Outcome NtfsRecovery::RecoverFile(uint64_t record, const NtfsFileDetail& detail) {
  const std::string name = NtfsOutputName(detail.name);
  if (name.empty()) return Outcome::kNext;
  if (!run_.types.IsExtensionWanted(NtfsTypeExtension(detail.name))) return Outcome::kNext;
  std::string folder = "/";
  std::string path;
  if (!whole_volume_ || run_.listing != nullptr || run_.keep_paths) {
    folder = paths_.FolderOf(detail.parent_reference);
    path = (folder == "/" ? "" : folder) + "/" + name;
    if (!whole_volume_ && !NtfsPathIsBelow(path, run_.folder)) return Outcome::kNext;
  }
  std::optional<NtfsDataReader> data;
  // A record without usable content (no unnamed $DATA, damaged runs, no bytes) is passed by.
  const bool usable = drive_.ReadFileData(record, &data) == ntfs_error::kOk && data->length() > 0;
  if (run_.listing != nullptr) {
    if (usable) run_.listing->push_back({path, data->length(), StateOf(data->value())});
    return Outcome::kNext;
  }
  ShowFileBar(0, 1);
  Outcome outcome = Outcome::kNext;
  const std::string output_folder =
      run_.keep_paths ? KeptPathFolder(run_.run_folder, folder) : run_.run_folder;
  if (usable) outcome = WriteFile(output_folder + name, path.empty() ? "/" + name : path, *data);
  ui_.SetFileBar(0, 0);
  return outcome;
}

Outcome NtfsRecovery::WriteFile(const std::string& wanted_path, const std::string& volume_path,
                                NtfsDataReader& data) {
  const FileErrorCause created = writer_.CreateNamed(wanted_path);
  if (created == FileErrorCause::kDiskFull) {
    writer_.ReportFailure(created, writer_.path());
    return Outcome::kStop;
  }
  if (created != FileErrorCause::kNone) return Outcome::kNext;  // bad path and the like
  if (const CopyEnd copied = CopyData(data); copied != CopyEnd::kCopied) {
    if (copied == CopyEnd::kStop) return Outcome::kStop;
    GiveUpUnreadable(volume_path);
    return Outcome::kNext;
  }
  if (!writer_.Keep(RecoveredWriter::kNoCut, {}, data.length())) return Outcome::kStop;
  context_.PumpMessages();
  return Outcome::kNext;
}

// A file whose content cannot be read costs that file only: it is reported and the run goes on.
void NtfsRecovery::GiveUpUnreadable(const std::string& volume_path) {
  run_.report.unreadable.push_back(volume_path);
  context_.ShowStatusText(UnreadableText(volume_path));
}

// Streams the content to the writer one piece at a time, polling Cancel before each piece. A
// copy that is cancelled, unreadable or fails to write leaves no file behind.
NtfsRecovery::CopyEnd NtfsRecovery::CopyData(NtfsDataReader& data) {
  while (!data.at_end()) {
    ShowFileBar(data.position(), data.length());
    if (Cancelled()) {
      writer_.Discard();
      return CopyEnd::kStop;
    }
    context_.PumpMessages();
    const int64_t got = data.ReadNext(buffer_.data(), buffer_.size());
    if (got <= 0) {
      writer_.Discard();
      return CopyEnd::kUnreadable;
    }
    if (!writer_.Write(buffer_.data(), static_cast<size_t>(got))) {
      writer_.Discard();
      return CopyEnd::kStop;
    }
  }
  return CopyEnd::kCopied;
}

void NtfsRecovery::ShowFileBar(uint64_t done, uint64_t total) {
  const auto percent =
      static_cast<uint64_t>(100.0 * static_cast<double>(done) / static_cast<double>(total));
  ui_.SetFileBar(percent, 100);
}

}  // namespace

RunResult RecoverNtfsDeletedFiles(DeletedRun& run) {
  RunResult result = NtfsRecovery(run).Run();
  result.recovered = run.run.recovered_count;
  // The last file given up on a failed read stays named in the status text.
  const std::vector<std::string>& unreadable = run.report.unreadable;
  run.run.ShowStatusText(unreadable.empty() ? std::string() : UnreadableText(unreadable.back()));
  run.run.ui().SetFileBar(0, 0);
  if (result.outcome != RunOutcome::kCompleted || run.listing != nullptr) return result;
  run.run.ui().SetBarPosition(100);
  result.message_id = run.run.recovered_count > 0 ? msg::kCompleted : msg::kNothingFound;
  run.run.ShowMessage(result.message_id, MessageIcon::kNone);
  return result;
}

}  // namespace kestrel
