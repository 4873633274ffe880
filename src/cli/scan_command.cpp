#include "cli/commands.h"

#include <cstdio>

namespace kestrel {

int RunScanCommand(const CliOptions&) {
  std::fprintf(stderr, "kestrel-cli: \"scan\" is not available yet in this build\n");
  return kExitFailed;
}

}  // namespace kestrel
