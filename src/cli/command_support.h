#pragma once
// What the run commands of kestrel-cli share.

#include <string>

#include "report/run_report.h"
#include "run/run_outcome.h"

namespace kestrel {

class SettingsStore;
struct CliOptions;

// 0 completed, 3 completed with files not written, 130 cancelled or aborted, 1 refused or
// stopped.
int ExitStatusOf(const RunResult& result);

// Tells on stderr where a damaged settings file was moved, when that happened.
void ReportSettingsNotice(SettingsStore& settings);

// The run's report as --no-report, --hash and --report-json ask; false with `error` set on a
// bad --hash list or a report option given with --no-report.
bool ReportChoiceOf(const CliOptions& options, ReportChoice* choice, std::string* error);

// `folder` made absolute and normal (as given when that fails).
std::string AbsoluteFolder(const std::string& folder);

}  // namespace kestrel
