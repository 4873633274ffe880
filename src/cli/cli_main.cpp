#include "cli/cli_main.h"

#include <cstdio>

namespace kestrel {

int CliMain(int argc, char** argv) {
  (void)argc;
  (void)argv;
  std::fprintf(stderr, "kestrel-cli: no command\n");
  return 2;
}

}  // namespace kestrel
