#pragma once
// State of the compound carving routine while its file is open.

#include <cstdint>

namespace kestrel {

struct CompoundState {};

}  // namespace kestrel
