#pragma once
// Canon CRW (CIFF): sectors are taken until the root directory's raw-image record (0x2005 at heap
// offset 0) appears; the file ends after the directory's records and its 32-bit offset.

#include <cstdint>

#include "carve/format.h"

namespace kestrel {

struct CrwState {
  bool big_endian = false;
  bool in_directory = false;  // the directory was found; `directory_left` bytes still to come
  uint64_t directory_left = 0;
};

Fed FeedCrw(CrwState& state, const CarveView& view);
// A file ended by a header inside its directory is kept with what it has.
Kept FinishCrw(const CrwState& state);

}  // namespace kestrel
