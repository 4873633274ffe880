#pragma once
// State of the QuickTime carving routine while its movie is open.

#include <cstdint>

namespace kestrel {

struct MovState {
  // Bytes left in the current top-level atom; 0 when the walk stands on an atom boundary.
  uint64_t atom_left = 0;
};

}  // namespace kestrel
