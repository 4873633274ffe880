#include "app/run_launcher.h"

#include "app/app_texts.h"

#include <filesystem>
#include <system_error>

#include "app/volume_folders.h"
#include "output/recovered_output.h"
#include "platform/mount_info.h"
#include "recover/deleted_recovery.h"
#include "recover/raw_scan.h"
#include "run/messages.h"

namespace kestrel {
namespace {

// The stored selection with "Scan File" taking its default (1) when it was never written, and
// the stored recovery folder.
std::string PrepareDeletedRun(AppState& app) {
  app.types.LoadFileTypeMask(app.settings);
  app.types.scan_all = app.settings.GetByte("Scan File").value_or(1);
  return StoredRecoveryFolder(app.settings, &app.types);
}

RunResult Refused(RunContext& run, int message_id) {
  run.ShowMessage(message_id, MessageIcon::kStop);
  return RunResult{RunOutcome::kRefused, 0, message_id};
}

RunResult RunDeletedMode(RunContext& run, AppState& app, const TreeSource& tree) {
  DeletedPlan plan;
  DeletedSource& source = plan.source;
  std::string& folder = plan.folder;
  switch (tree.kind) {
    case TreeSource::Kind::kVolumeFolder:
      source.volume = tree.volume;
      folder = tree.inner_path;
      break;
    case TreeSource::Kind::kNativeFolder: {
      VolumeFolder located = LocateNativeFolder(app.devices, tree.native_path);
      // A folder on no volume Kestrel may read (the system disk without read permission).
      if (located.volume == nullptr) {
        run.ShowMessage(apptext::kFolderOnNoVolume, MessageIcon::kStop, tree.native_path);
        return RunResult{RunOutcome::kRefused, 0, apptext::kFolderOnNoVolume};
      }
      source.volume = located.volume;
      folder = located.inner_path;
      break;
    }
    case TreeSource::Kind::kNone:
      return Refused(run, msg::kCannotReadDevice);
  }
  plan.recovery_folder = PrepareDeletedRun(app);
  plan.types = app.types;
  return RecoverDeletedFiles(run, plan);
}

RunResult RunPartitionMode(RunContext& run, AppState& app, const RunSelection& selection,
                           const SourceWrapper& wrap_source) {
  RawScanRequest request;
  request.volume = selection.volume;
  request.disk = selection.disk;
  request.map = &app.devices;
  request.wrap_source = wrap_source;
  ApplyStoredChoices(app.settings, &app.types, &request.recovery_folder);
  request.types = app.types;
  request.offer_resume = true;
  run.BeginRun();
  return RunRawScan(run, request);
}

}  // namespace

VolumeFolder LocateNativeFolder(const DeviceMap& map, const std::string& native_path) {
  std::error_code ec;
  const std::string real = std::filesystem::canonical(native_path, ec).string();
  if (ec) return {};
  const std::vector<MountEntry> mounts = ReadMountInfo();
  for (const VolumeEntry& volume : map.volumes) {
    if (!FolderIsOnVolume(real, volume)) continue;
    std::optional<std::string> mount_point = VolumeMountPoint(volume, mounts);
    if (!mount_point) continue;
    const std::string relative =
        std::filesystem::path(real).lexically_relative(*mount_point).generic_string();
    if (relative.empty() || relative.rfind("..", 0) == 0) continue;
    return {&volume, relative == "." ? "/" : "/" + relative};
  }
  return {};
}

RunResult LaunchRun(RunContext& run, AppState& app, const RunSelection& selection,
                    const SourceWrapper& wrap_source) {
  switch (selection.mode) {
    case RecoveryMode::kDeletedFiles:
      return RunDeletedMode(run, app, selection.tree);
    case RecoveryMode::kPartitionDisk:
      return RunPartitionMode(run, app, selection, wrap_source);
  }
  return RunResult{RunOutcome::kRefused, 0, 0};
}

}  // namespace kestrel
