#pragma once
// What the run commands of kestrel-cli share.

#include <string>

#include "run/run_outcome.h"

namespace kestrel {

class SettingsStore;

// 0 completed, 3 completed with files not written, 130 cancelled or aborted, 1 refused or
// stopped.
int ExitStatusOf(const RunResult& result);

// Tells on stderr where a damaged settings file was moved, when that happened.
void ReportSettingsNotice(SettingsStore& settings);

// `folder` made absolute and normal (as given when that fails).
std::string AbsoluteFolder(const std::string& folder);

}  // namespace kestrel
