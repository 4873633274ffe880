#include "cli/commands.h"

#include <cstdio>

namespace kestrel {

int RunSourcesCommand(const CliOptions&) {
  std::fprintf(stderr, "kestrel-cli: \"sources\" is not available yet in this build\n");
  return kExitFailed;
}

}  // namespace kestrel
