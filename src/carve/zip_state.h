#pragma once
// State of the zip carving routine while its file is open.

#include <cstdint>

namespace kestrel {

struct ZipState {};

}  // namespace kestrel
