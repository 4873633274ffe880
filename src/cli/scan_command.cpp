#include <cstdio>
#include <cstdlib>

#include "cli/command_support.h"
#include "cli/commands.h"
#include "cli/progress_json.h"
#include "cli/source_argument.h"
#include "cli/terminal_run_ui.h"
#include "cli/type_list.h"
#include "output/recovered_output.h"
#include "platform/settings_store.h"
#include "recover/raw_scan.h"
#include "run/run_context.h"

namespace kestrel {
namespace {

int Usage(const std::string& text) {
  std::fprintf(
      stderr,
      "kestrel-cli scan: %s\nUsage: kestrel-cli scan SOURCE [--out DIR] [--types LIST] "
      "[--free-space] [--keep-partial] [--resume [RUN-FOLDER]] [--progress line|json|none] "
      "[--json]\n"
      "       [--no-report | --hash LIST] [--report-json FILE]\n",
      text.c_str());
  return kExitUsage;
}

}  // namespace

int RunScanCommand(const CliOptions& options) {
  if (options.positional.size() != 1) return Usage("give exactly one SOURCE");
  if (!options.folder.empty()) return Usage("--folder applies to \"deleted\" only");
  ReadErrorPolicy policy;
  if (!ParseReadErrorPolicy(options.read_errors, &policy)) return Usage("bad --read-errors value");
  const std::string& progress = options.progress;
  if (!progress.empty() && progress != "line" && progress != "json" && progress != "none") {
    return Usage("bad --progress value (line, json or none)");
  }
  // The JSON objects take the progress line's place on stderr.
  if (progress == "json" || progress == "none") SetVerbosity(Verbosity::kQuiet);

  RawScanRequest request;
  std::string error;
  if (!options.types.empty() && !ApplyTypeList(options.types, &request.types, &error)) {
    return Usage(error);
  }
  if (!ReportChoiceOf(options, &request.dfxml, &error)) return Usage(error);

  DeviceMap map = EnumerateDevices();
  for (const std::string& warning : map.warnings)
    std::fprintf(stderr, "kestrel-cli: %s\n", warning.c_str());
  SourceArgument source = ResolveSourceArgument(options.positional[0], map);
  if (source.kind == SourceArgument::Kind::kInvalid) {
    std::fprintf(stderr, "kestrel-cli scan: %s\n", source.error.c_str());
    return kExitFailed;
  }

  request.map = &map;
  request.volume = source.volume;
  request.disk = source.disk;
  if (source.kind == SourceArgument::Kind::kPath) request.path = source.path;
  if (!options.out.empty()) request.recovery_folder = AbsoluteFolder(options.out);
  request.free_space_only = options.free_space;
  request.keep_not_whole = options.keep_partial;
  request.resume = options.resume;
  if (!options.resume_folder.empty()) request.resume_folder = AbsoluteFolder(options.resume_folder);
  // How often the scan keeps its checkpoint (tests make it keep one at every chance).
  if (const char* seconds = std::getenv("KESTREL_CHECKPOINT_SECONDS")) {
    request.checkpoint_seconds = std::atof(seconds);
  }
  SettingsStore settings(SettingsStore::DefaultPath());
  ApplyStoredChoices(settings, &request.types, &request.recovery_folder);
  TerminalRunUi ui(options.json, policy);
  JsonProgressWriter json_progress(stderr);
  if (progress == "json") ui.AttachJsonProgress(&json_progress);
  RunContext run(ui);
  ui.AttachRun(&run);
  run.BeginRun();
  RunResult result = RunRawScan(run, request);
  ReportSettingsNotice(settings);
  return ExitStatusOf(result);
}

}  // namespace kestrel
