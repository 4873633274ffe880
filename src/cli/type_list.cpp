#include "cli/type_list.h"

#include <cctype>
#include <sstream>

namespace kestrel {

bool ApplyTypeList(const std::string& text, FileTypeSelection* selection, std::string* error) {
  std::string lowered;
  for (char c : text) lowered += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lowered == "all") {
    selection->mask = kAllFileTypesMask;
    selection->scan_all = 1;
    return true;
  }
  TypeSet mask;
  std::stringstream names(text);
  std::string name;
  while (std::getline(names, name, ',')) {
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (name.empty()) continue;
    std::optional<int> code = FindTypeByName(name);
    if (!code) {
      *error = "unknown file type \"" + name + "\" (see kestrel-cli types)";
      return false;
    }
    mask.Add(static_cast<size_t>(*code));
  }
  if (mask.None()) {
    *error = "no file type given";
    return false;
  }
  selection->mask = mask;
  selection->scan_all = 0;
  return true;
}

}  // namespace kestrel
