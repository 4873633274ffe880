#pragma once
// Inflating a zlib stream that lies in a range of a carved file, read through the check's
// window: to check that the stream decodes to its end with a good checksum (a block of foreign
// bytes inside makes it fail), and to get the bytes of a small stream (a cross-reference
// stream). The output kept or produced is bounded by the caller.

#include <cstdint>
#include <vector>

#include "carve/formats/check_window.h"

namespace kestrel {

enum class Inflated : uint8_t {
  kEnd,          // the stream ended inside the range and its checksum is right
  kBadChecksum,  // the deflate data ended inside the range, its checksum wrong or missing
  kRanOut,       // the range ended before the deflate data did
  kBroken,       // the data is no valid deflate data
  kNoHeader,     // the range does not start with a zlib header
  kCapped,       // `max_output` bytes came out before the stream ended
  kUnreadable    // a read of the source failed (or zlib could not start)
};

// Inflates the zlib stream in bytes [offset, offset + size) of the file. The output goes to
// `output` when given (appended), else it is dropped; `*produced` counts it.
Inflated InflateRange(CheckWindow& window, uint64_t offset, uint64_t size, uint64_t max_output,
                      std::vector<uint8_t>* output, uint64_t* produced);

}  // namespace kestrel
