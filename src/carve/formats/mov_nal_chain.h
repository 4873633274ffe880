#pragma once
// The samples of H.264 and H.265 tracks in a movie: chains of NAL units, each a big-endian length
// (of the size avcC or hvcC gives) and that many bytes of unit with a valid NAL header.

#include <cstdint>

#include "carve/formats/check_window.h"

namespace kestrel {

struct NalChain {
  bool fits = false;
  uint64_t probed_end = 0;  // the end of the bytes read to tell
};

// Whether the sample of `size` bytes at `offset` of the file `window` reads is a chain of NAL
// units of `length_size`-byte lengths that ends exactly at the sample's end. After the first unit,
// zeros to the sample's end are padding. Each unit read takes one of `*units_left`; with none left
// the chain is taken as fitting. An unreadable length also counts as fitting (the read failure
// decides).
NalChain ReadNalChain(CheckWindow& window, uint64_t offset, uint64_t size, uint32_t length_size,
                      bool hevc, uint64_t* units_left);

}  // namespace kestrel
