#include "cli/commands.h"

#include <cstdio>

namespace kestrel {

int RunDeletedCommand(const CliOptions&) {
  std::fprintf(stderr, "kestrel-cli: \"deleted\" is not available yet in this build\n");
  return kExitFailed;
}

}  // namespace kestrel
