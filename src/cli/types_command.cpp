// kestrel-cli types: the catalogue rows in code order, "INDEX<TAB>LIST TEXT<TAB>DESCRIPTION".

#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "run/file_types.h"

namespace kestrel {

int RunTypesCommand(const CliOptions& options) {
  if (!options.positional.empty()) {
    std::fprintf(stderr, "kestrel-cli types: takes no argument\nUsage: kestrel-cli types\n");
    return kExitUsage;
  }
  for (const FileTypeEntry& entry : FileTypeCatalogue()) {
    std::printf("%d\t%s\t%s\n", entry.index, std::string(entry.list_text).c_str(),
                std::string(entry.description).c_str());
  }
  return kExitOk;
}

}  // namespace kestrel
