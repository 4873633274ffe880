#pragma once
// Sigma X3F: sectors are taken until the "SECd" directory; the file ends after its entries and
// the 32-bit directory offset.

#include <cstdint>

#include "carve/format.h"

namespace kestrel {

struct X3fState {
  uint64_t directory_left = 0;  // directory bytes that lie in the following sectors
  bool complete = false;
};

Fed FeedX3f(X3fState& state, const CarveView& view);
// Only a file whose directory was taken whole is kept.
Kept FinishX3f(const X3fState& state);

}  // namespace kestrel
