#pragma once
// Where a file found in fragments may go on after a cut: the allocation units within a reach
// either way of the cut, nearest first (after the cut, then before it, at each distance), that
// lie inside the source and in none of the pieces the file already took.

#include <cstdint>
#include <vector>

#include "carve/format.h"
#include "carve/piece_source.h"

namespace kestrel {

class UnitCandidates {
 public:
  // The units up to `reach` units from `cut`, in a source of `size` bytes, none inside `taken`
  // (whose last piece is taken to end at `cut`).
  UnitCandidates(const ByteUnits& units, uint64_t cut, uint64_t reach, uint64_t size,
                 const std::vector<FilePiece>& taken)
      : unit_(units.bytes), cut_(cut), reach_(reach), size_(size), taken_(taken) {}

  // The next candidate's first byte in `*at`; false when none is left.
  bool Next(uint64_t* at) {
    while (distance_ <= reach_) {
      const uint64_t step = distance_ * unit_;
      const bool after = after_;
      after_ = !after_;
      if (after_) ++distance_;
      if (!after && step > cut_) continue;
      const uint64_t next = after ? cut_ + step : cut_ - step;
      if (next >= size_ || InPieces(taken_, next, cut_)) continue;
      *at = next;
      return true;
    }
    return false;
  }

 private:
  uint64_t unit_, cut_, reach_, size_;
  const std::vector<FilePiece>& taken_;
  uint64_t distance_ = 1;
  bool after_ = true;
};

}  // namespace kestrel
