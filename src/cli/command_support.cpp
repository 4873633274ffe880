#include "cli/command_support.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "cli/commands.h"
#include "platform/settings_store.h"

namespace kestrel {

bool ReportChoiceOf(const CliOptions& options, ReportChoice* choice, std::string* error) {
  if (options.no_report && (!options.hash.empty() || !options.report_json.empty())) {
    *error = "--hash and --report-json need the report: not with --no-report";
    return false;
  }
  choice->enabled = !options.no_report;
  if (!options.hash.empty() && !ParseDigestList(options.hash, &choice->digests, error)) {
    return false;
  }
  choice->command_line = options.command_line;
  choice->json_lines_path = options.report_json;
  return true;
}

int ExitStatusOf(const RunResult& result) {
  switch (result.outcome) {
    case RunOutcome::kCompleted:
      return result.not_written != 0 ? kExitFilesNotWritten : kExitOk;
    case RunOutcome::kCancelled:
    case RunOutcome::kAborted:
      return kExitCancelled;
    case RunOutcome::kRefused:
    case RunOutcome::kStopped:
      return kExitFailed;
  }
  return kExitFailed;
}

void ReportSettingsNotice(SettingsStore& settings) {
  const std::string notice = settings.TakeCorruptionNotice();
  if (!notice.empty()) {
    std::fprintf(stderr, "kestrel-cli: the settings file was damaged and was moved to %s\n",
                 notice.c_str());
  }
}

std::string AbsoluteFolder(const std::string& folder) {
  std::error_code ec;
  std::string absolute = std::filesystem::absolute(folder, ec).lexically_normal().string();
  return ec ? folder : absolute;
}

}  // namespace kestrel
