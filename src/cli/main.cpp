#include "cli/cli_main.h"

int main(int argc, char** argv) {
  return kestrel::CliMain(argc, argv);
}
