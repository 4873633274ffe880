#pragma once
// QuickTime movies: a walk over the top-level atoms (mdat, moov, free, skip, wide; 64-bit sizes
// included), carried across sectors. The movie ends where the next bytes are no movie atom.

#include <cstdint>

#include "carve/format.h"

namespace kestrel {

struct MovState {
  // Bytes left in the current top-level atom; 0 when the walk stands on an atom boundary.
  uint64_t atom_left = 0;
  bool complete = false;
};

// An atom that reaches past the source's end refuses the movie.
Fed FeedMov(MovState& state, const CarveView& view);
Kept FinishMov(const MovState& state);

}  // namespace kestrel
