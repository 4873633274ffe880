#include "recover/deleted_recovery.h"

#include "fs/probe.h"
#include "output/recovered_output.h"
#include "run/messages.h"

namespace kestrel {
namespace {

RunResult Refuse(RunContext& run, int message_id, MessageIcon icon = MessageIcon::kStop,
                 std::string_view argument = {}) {
  run.ShowMessage(message_id, icon, argument);
  RunResult result;
  result.outcome = RunOutcome::kRefused;
  result.message_id = message_id;
  return result;
}

// The step of the clean-up that every run ends with.
void CleanUp(RunContext& run) {
  RunUi& ui = run.ui();
  run.ShowStatusText("");
  ui.SetFieldText(ProgressField::kPercent, "");
  run.ClearCancel();
  ui.SetScanFieldsVisible(true);
  ui.SetBarPosition(0);
  ui.SetFileBar(0, 0);
  run.SetRecoveryRunning(false);
}

int OpenSource(const DeletedSource& source, ScanSource* scan) {
  if (source.volume != nullptr) return OpenVolumeSource(*source.volume, scan);
  return OpenPathSource(source.path, SourceKind::kVolume, scan);
}

bool RunFolderOnSource(const DeletedSource& source, const std::string& run_folder) {
  if (source.volume != nullptr) return FolderIsOnVolume(run_folder, *source.volume);
  return FolderIsOnDevicePath(run_folder, source.path);
}

RunResult RunOnSource(RunContext& run, const DeletedPlan& plan) {
  const DeletedSource& source = plan.source;
  const DeletedOptions& options = plan.options;
  ScanSource scan;
  if (int failure = OpenSource(source, &scan); failure != 0) {
    return Refuse(run, failure, MessageIcon::kStop, scan.open_error);
  }
  if (!scan.bytes) return Refuse(run, msg::kMediaNotPresent);
  ProbeResult probed = OpenFileSystem(*scan.bytes);
  if (!probed.file_system) return Refuse(run, probed.refusal, probed.icon);
  run.ui().SetScanFieldsVisible(false);

  // The same-drive test comes before anything is created; a listing creates nothing, and a run
  // makes its folder only once the search has found the files (UndeleteFiles).
  if (options.listing == nullptr) {
    const std::string& folder = plan.recovery_folder;
    const std::string day_folder =
        DayFolderPath(folder.empty() ? DefaultRecoveryFolder() : folder, Today());
    if (RunFolderOnSource(source, ExistingAncestor(day_folder))) {
      return Refuse(run, msg::kSameDrive);
    }
    run.SetRunFolder(day_folder + "/");
  }
  run.SetRecoveryRunning(true);

  UndeleteRequest request{
      run, plan.types, plan.folder.empty() ? "/" : plan.folder, options.keep_paths, options.listing,
      {}};
  const UndeleteReport report{options.dfxml, ReportSourceOf(scan)};
  RunResult result = UndeleteFiles(*probed.file_system, request, &report);
  if (options.report != nullptr) *options.report = request.report;
  return result;
}

}  // namespace

RunResult RecoverDeletedFiles(RunContext& run, const DeletedPlan& plan) {
  run.BeginRun();
  run.ShowRecoveredCount();
  RunResult result = RunOnSource(run, plan);
  result.recovered = run.recovered_count();
  CleanUp(run);
  return result;
}

}  // namespace kestrel
