// kestrel-cli deleted SOURCE [--folder PATH] [--out DIR] [--types LIST|all] [--keep-paths] [--json]
//                            [--no-report | --hash LIST] [--report-json FILE]
// kestrel-cli deleted SOURCE --list [--folder PATH] [--types LIST|all] [--json]

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "cli/command_support.h"
#include "cli/commands.h"
#include "cli/json_text.h"
#include "cli/source_argument.h"
#include "cli/terminal_run_ui.h"
#include "cli/terminal_text.h"
#include "cli/type_list.h"
#include "output/recovered_output.h"
#include "platform/settings_store.h"
#include "recover/deleted_recovery.h"
#include "run/messages.h"
#include "run/run_context.h"

namespace kestrel {
namespace {

int Usage(const std::string& text) {
  std::fprintf(stderr,
               "kestrel-cli deleted: %s\nUsage: kestrel-cli deleted SOURCE [--folder PATH] "
               "[--out DIR] [--types LIST|all] [--keep-paths] [--json]\n"
               "       [--no-report | --hash LIST] [--report-json FILE]\n"
               "       kestrel-cli deleted SOURCE --list [--folder PATH] [--types LIST|all] "
               "[--json]\n",
               text.c_str());
  return kExitUsage;
}

// The stored selection, with "Scan File" taking its default (1) when it was never written.
void LoadStoredSelection(SettingsStore& settings, FileTypeSelection* types) {
  types->LoadFileTypeMask(settings);
  types->scan_all = settings.GetByte("Scan File").value_or(1);
}

// What the run could not bring back, for the terminal (the window shows it as status text).
void PrintReport(const DeletedReport& report) {
  for (const std::string& name : report.unreadable) {
    std::fprintf(stderr, "kestrel-cli deleted: %s %s\n",
                 std::string(MessageText(msg::kCannotReadDevice)).c_str(),
                 TerminalText(name).c_str());
  }
  for (const std::string& name : report.undecodable) {
    std::fprintf(stderr, "kestrel-cli deleted: %s %s\n",
                 std::string(MessageText(msg::kUndecodableData)).c_str(), name.c_str());
  }
  for (const NotWrittenFile& file : report.not_written) {
    std::fprintf(stderr, "kestrel-cli deleted: not written: %s (%s)\n", file.path.c_str(),
                 file.reason.c_str());
  }
  if (report.overwritten > 0) {
    std::fprintf(stderr,
                 "kestrel-cli deleted: %u deleted file(s) overwritten by other files, not "
                 "recovered\n",
                 report.overwritten);
  }
}

const char* StateText(FileState state) {
  switch (state) {
    case FileState::kIntact:
      return "intact";
    case FileState::kPartlyOverwritten:
      return "partly overwritten";
    case FileState::kOverwritten:
      return "overwritten";
  }
  return "intact";
}

// One line per file: PATH<TAB>BYTES<TAB>STATE (the path escaped for the terminal), or a JSON
// object that also holds the name as the volume gives it.
void PrintListing(const std::vector<DeletedFileListing>& listing, bool json) {
  for (const DeletedFileListing& file : listing) {
    if (json) {
      const JsonObject line = {{"path", file.path},
                               {"original_name", file.name_as_read},
                               {"bytes", file.bytes},
                               {"state", StateText(file.state)}};
      std::printf("%s\n", JsonLine(line).c_str());
    } else {
      std::printf("%s\t%llu\t%s\n", TerminalText(file.path).c_str(),
                  static_cast<unsigned long long>(file.bytes), StateText(file.state));
    }
  }
  std::fflush(stdout);
}

}  // namespace

int RunDeletedCommand(const CliOptions& options) {
  if (options.positional.size() != 1) return Usage("give exactly one SOURCE");
  if (options.list && options.keep_paths) return Usage("--list writes no files: no --keep-paths");
  ReadErrorPolicy policy;
  if (!ParseReadErrorPolicy(options.read_errors, &policy)) return Usage("bad --read-errors value");
  FileTypeSelection types;
  std::string error;
  if (!options.types.empty() && !ApplyTypeList(options.types, &types, &error)) return Usage(error);
  if (options.list && (!options.hash.empty() || !options.report_json.empty())) {
    return Usage("--list writes no report: no --hash or --report-json");
  }
  ReportChoice report_choice;
  if (!ReportChoiceOf(options, &report_choice, &error)) return Usage(error);

  DeviceMap map = EnumerateDevices();
  for (const std::string& warning : map.warnings) {
    std::fprintf(stderr, "kestrel-cli: %s\n", warning.c_str());
  }
  SourceArgument argument = ResolveSourceArgument(options.positional[0], map);
  if (argument.kind == SourceArgument::Kind::kInvalid) {
    std::fprintf(stderr, "kestrel-cli deleted: %s\n", argument.error.c_str());
    return kExitFailed;
  }
  if (argument.kind == SourceArgument::Kind::kDisk) {
    return Usage("deleted files are recovered from a volume: give a letter or a path");
  }
  DeletedPlan plan;
  plan.source.volume = argument.volume;
  if (argument.kind == SourceArgument::Kind::kPath) plan.source.path = argument.path;
  plan.folder = options.folder;

  SettingsStore settings(SettingsStore::DefaultPath());
  if (options.types.empty()) LoadStoredSelection(settings, &types);
  plan.types = types;
  plan.recovery_folder =
      options.out.empty() ? StoredRecoveryFolder(settings, nullptr) : AbsoluteFolder(options.out);
  ReportSettingsNotice(settings);

  TerminalRunUi ui(options.json, policy);
  RunContext run(ui);
  ui.AttachRun(&run);
  DeletedReport report;
  plan.options.report = &report;
  plan.options.keep_paths = options.keep_paths;
  plan.options.dfxml = report_choice;
  std::vector<DeletedFileListing> listing;
  if (options.list) plan.options.listing = &listing;
  RunResult result = RecoverDeletedFiles(run, plan);
  if (options.list) PrintListing(listing, options.json);
  ui.ClearProgress();
  PrintReport(report);
  if (result.message_id == 0 &&
      (result.outcome == RunOutcome::kRefused || result.outcome == RunOutcome::kStopped)) {
    // The window passes over this ending silently; a script still needs to know.
    std::fprintf(stderr,
                 "kestrel-cli deleted: the recovery ended without a result (the volume's "
                 "structures could not be read)\n");
  }
  return ExitStatusOf(result);
}

}  // namespace kestrel
