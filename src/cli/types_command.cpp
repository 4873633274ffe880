#include "cli/commands.h"

#include <cstdio>

namespace kestrel {

int RunTypesCommand(const CliOptions&) {
  std::fprintf(stderr, "kestrel-cli: \"types\" is not available yet in this build\n");
  return kExitFailed;
}

}  // namespace kestrel
