#pragma once
// State of the tiff carving routine while its file is open.

#include <cstdint>

namespace kestrel {

struct TiffState {
  bool ifd_done = false;
  uint64_t start_sector = 0;
  uint64_t ifd_base = 0;
};

}  // namespace kestrel
