#include "recover/deleted_recovery.h"

#include <optional>

#include "fs/deleted_run.h"
#include "fs/fat/fat_folders.h"
#include "fs/fat/fat_recovery.h"
#include "fs/fs_identify.h"
#include "fs/ntfs/ntfs_recovery.h"
#include "output/recovered_output.h"
#include "platform/blkid_probe.h"
#include "run/messages.h"

namespace kestrel {
namespace {

std::string OverwrittenText(uint32_t count) {
  return std::to_string(count) + (count == 1 ? " deleted file was" : " deleted files were") +
         " overwritten by other files and not recovered.";
}

RunResult Ended(RunContext& run, RunOutcome outcome, int message_id) {
  RunResult result;
  result.outcome = outcome;
  result.recovered = run.recovered_count;
  result.message_id = message_id;
  return result;
}

RunResult Refuse(RunContext& run, int message_id, MessageIcon icon = MessageIcon::kStop) {
  run.ShowMessage(message_id, icon);
  return Ended(run, RunOutcome::kRefused, message_id);
}

RunResult Complete(RunContext& run, const DeletedReport& report = {}) {
  run.ShowStatusText(report.overwritten == 0 ? "" : OverwrittenText(report.overwritten));
  const int message_id = run.recovered_count > 0 ? msg::kCompleted : msg::kNothingFound;
  run.ShowMessage(message_id, MessageIcon::kNone);
  return Ended(run, RunOutcome::kCompleted, message_id);
}

// The step of the clean-up that every run ends with.
void CleanUp(RunContext& run) {
  RunUi& ui = run.ui();
  run.ShowStatusText("");
  ui.SetFieldText(ProgressField::kPercent, "");
  run.cancel_requested = false;
  ui.SetScanFieldsVisible(true);
  ui.SetBarPosition(0);
  ui.SetFileBar(0, 0);
  run.recovery_running = false;
}

int OpenSource(const DeletedSource& source, ScanSource* scan) {
  if (source.volume != nullptr) return OpenVolumeSource(*source.volume, scan);
  return OpenPathSource(source.path, SourceKind::kVolume, scan);
}

// The name the operating system would report for the volume's file system.
std::string FileSystemName(const DeletedSource& source, ScanSource& scan) {
  if (auto* file = dynamic_cast<FileByteSource*>(scan.bytes.get())) {
    // A partition of an image is a slice of its file; anything else is the whole file.
    const uint64_t offset = source.volume ? source.volume->offset : 0;
    const uint64_t size = offset != 0 ? source.volume->bytes : 0;
    FileSystemInfo probed = ProbeFileSystem(file->fd(), offset, size);
    if (probed.found) return probed.fs_name;
  }
  return source.volume ? source.volume->fs_name : std::string();
}

bool RunFolderOnSource(const DeletedSource& source, const std::string& run_folder) {
  if (source.volume != nullptr) return FolderIsOnVolume(run_folder, *source.volume);
  return FolderIsOnDevicePath(run_folder, source.path);
}

RunResult RecoverFromNtfs(RunContext& run, FileTypeSelection& types, SettingsStore& settings,
                          ScanSource& scan, const std::string& folder_path,
                          const DeletedOptions& options) {
  DeletedRun deleted{run, types, settings, scan, run.run_folder, false, {}};
  deleted.folder = folder_path;
  deleted.listing = options.listing;
  const RunResult result = RecoverNtfsDeletedFiles(deleted);
  if (options.report != nullptr) *options.report = deleted.report;
  return result;
}

// Resolves the selected folder and searches below it. A result when the run ends here.
std::optional<RunResult> SearchFat(RunContext& run, FatVolume& volume,
                                   const std::string& folder_path, SearchStart* start,
                                   std::vector<DeletedEntry>* entries) {
  const FatVolumeInfo& info = volume.info();
  if (!FatGeometryUsable(info)) return Refuse(run, msg::kNoFileSystem, MessageIcon::kInformation);
  const SelectedFolder folder = ResolveSelectedFolder(volume, folder_path);
  if (folder.resolution == FolderResolution::kNotSupported) {
    return Refuse(run, msg::kFileSystemNotSupported, MessageIcon::kNone);
  }
  if (folder.resolution == FolderResolution::kNotFound) {
    return Refuse(run, msg::kFolderNotFound, MessageIcon::kStop);
  }
  start->root_selected = folder.depth == 0 && folder.cluster == 0;
  start->start_cluster = folder.cluster;
  if (start->root_selected && info.fat_type == FatType::kFat32) {
    start->start_cluster = info.root_cluster;
  }
  start->recycled_cluster = folder.recycled_cluster;
  start->folder_path = folder_path;
  switch (SearchDeletedEntries(volume, run, *start, entries)) {
    case SearchEnd::kDone:
      return std::nullopt;
    case SearchEnd::kCancelled:
      return Ended(run, RunOutcome::kCancelled, 0);
    case SearchEnd::kOutOfMemory:
      break;
  }
  return Ended(run, RunOutcome::kRefused, msg::kMemoryAllocationError);
}

RunResult RecoverFromFat(DeletedRun& deleted, const FatVolumeInfo& info,
                         const std::string& folder_path) {
  RunContext& run = deleted.run;
  FatVolume volume(*deleted.source.bytes, info);
  SearchStart start;
  std::vector<DeletedEntry> entries;
  if (std::optional<RunResult> refused = SearchFat(run, volume, folder_path, &start, &entries)) {
    return *refused;
  }
  run.ui().SetFieldText(ProgressField::kPercent, "");
  if (deleted.listing != nullptr) {
    *deleted.listing = ListDeletedEntries(volume, deleted.types, entries);
    return Ended(run, RunOutcome::kCompleted, 0);
  }
  switch (CopyDeletedEntries(deleted, volume, entries)) {
    case CopyEnd::kCompleted:
      return Complete(run, deleted.report);
    case CopyEnd::kCancelled:
      return Ended(run, RunOutcome::kCancelled, 0);
    case CopyEnd::kOutOfMemory:
      return Ended(run, RunOutcome::kRefused, msg::kOutOfMemory);
    case CopyEnd::kDiskFull:
      return Ended(run, RunOutcome::kStopped, msg::kDiskFull);
    case CopyEnd::kWriteFailed:
      break;
  }
  return Ended(run, RunOutcome::kStopped, msg::kWriteFailed);
}

RunResult RunOnSource(RunContext& run, FileTypeSelection& types, SettingsStore& settings,
                      const DeletedSource& source, const std::string& folder_path,
                      const std::string& recovery_folder, const DeletedOptions& options) {
  ScanSource scan;
  if (int failure = OpenSource(source, &scan); failure != 0) return Refuse(run, failure);
  const std::string fs_name = FileSystemName(source, scan);
  const VolumeIdentity identity = IdentifyVolume(scan, fs_name);
  if (identity.route == VolumeRoute::kRefused) {
    const bool informational = identity.message_id == msg::kNoFileSystem;
    return Refuse(run, identity.message_id,
                  informational ? MessageIcon::kInformation : MessageIcon::kStop);
  }
  run.ui().SetScanFieldsVisible(false);

  // The same-drive test comes before anything is created; a listing creates nothing.
  if (options.listing == nullptr) {
    const std::string day_folder = RecoveryFolderPath(settings, &types, recovery_folder);
    if (RunFolderOnSource(source, ExistingAncestor(day_folder))) {
      return Refuse(run, msg::kSameDrive);
    }
    if (!CreateRunFolder(day_folder)) return Refuse(run, msg::kCannotCreateFolder);
    run.run_folder = day_folder + "/";
  }
  run.recovery_running = true;

  if (identity.route == VolumeRoute::kNtfs) {
    return RecoverFromNtfs(run, types, settings, scan, folder_path, options);
  }
  DeletedRun deleted{run, types, settings, scan, run.run_folder, false, {}};
  deleted.keep_paths = options.keep_paths;
  deleted.listing = options.listing;
  RunResult result = RecoverFromFat(deleted, identity.fat, folder_path);
  if (options.report != nullptr) *options.report = deleted.report;
  if (result.outcome == RunOutcome::kCancelled) result.message_id = 0;
  return result;
}

}  // namespace

RunResult RecoverDeletedFiles(RunContext& run, FileTypeSelection& types, SettingsStore& settings,
                              const DeletedSource& source, const std::string& folder_path,
                              const std::string& recovery_folder, const DeletedOptions& options) {
  run.BeginRun();
  run.ShowRecoveredCount();
  RunResult result =
      RunOnSource(run, types, settings, source, folder_path, recovery_folder, options);
  result.recovered = run.recovered_count;
  CleanUp(run);
  return result;
}

}  // namespace kestrel
