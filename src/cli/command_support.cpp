#include "cli/command_support.h"

#include <filesystem>
#include <system_error>

#include "cli/commands.h"

namespace kestrel {

int ExitStatusOf(const RunResult& result) {
  switch (result.outcome) {
    case RunOutcome::kCompleted:
      return kExitOk;
    case RunOutcome::kCancelled:
    case RunOutcome::kAborted:
      return kExitCancelled;
    case RunOutcome::kRefused:
    case RunOutcome::kStopped:
      return kExitFailed;
  }
  return kExitFailed;
}

std::string AbsoluteFolder(const std::string& folder) {
  std::error_code ec;
  std::string absolute = std::filesystem::absolute(folder, ec).lexically_normal().string();
  return ec ? folder : absolute;
}

}  // namespace kestrel
