// kestrel-cli types: the 37 catalogue rows, "INDEX<TAB>LIST TEXT<TAB>DESCRIPTION".

#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "run/file_types.h"
#include "run/messages.h"

namespace kestrel {

int RunTypesCommand(const CliOptions& options) {
  if (!options.positional.empty()) {
    std::fprintf(stderr, "kestrel-cli types: takes no argument\nUsage: kestrel-cli types\n");
    return kExitUsage;
  }
  for (const FileTypeEntry& entry : FileTypeCatalogue()) {
    std::printf("%d\t%s\t%s\n", entry.index, std::string(entry.list_text).c_str(),
                std::string(MessageText(entry.description_id)).c_str());
  }
  return kExitOk;
}

}  // namespace kestrel
