#include "cli/cli_main.h"
#include "platform/heap_tuning.h"

int main(int argc, char** argv) {
  kestrel::KeepFreedHeapForReuse();
  return kestrel::CliMain(argc, argv);
}
