#pragma once
// The --types option: three-letter type names, comma separated, or "all".

#include <string>

#include "run/file_types.h"

namespace kestrel {

// Sets the selection for one run from `text`. "all" selects every type and "Scan for all
// files". Names are matched without regard to case. False (and `error`) for an unknown name.
bool ApplyTypeList(const std::string& text, FileTypeSelection* selection, std::string* error);

}  // namespace kestrel
