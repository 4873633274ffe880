#pragma once
// State of the mov carving routine while its file is open.

#include <cstdint>

namespace kestrel {

struct MovState {};

}  // namespace kestrel
