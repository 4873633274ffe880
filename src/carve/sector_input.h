#pragma once
// One sector as a carving routine sees it: the sector itself and a window of the real source
// bytes around it, so that markers and tags crossing the sector's end are read from the source.

#include <cstddef>
#include <cstdint>

namespace kestrel {

// Bytes after a sector that are always readable through SectorInput::data.
inline constexpr size_t kLookAhead = 64 * 1024;
// Bytes before a sector that are always readable.
inline constexpr size_t kLookBehind = 4096;

struct SectorInput {
  const uint8_t* data = nullptr;  // the sector; data[-kLookBehind .. count + kLookAhead) readable
  uint32_t count = 512;           // bytes in the sector
  uint64_t sector = 0;            // source sector number
  // Of the bytes after the sector, how many are real source bytes; the rest of the look-ahead
  // lies past the end of the source and reads as zeros.
  size_t valid_after = kLookAhead;
  // Of the bytes before the sector, how many are real (zeros before sector 0).
  size_t valid_before = kLookBehind;

  // Whether [offset, offset + length) from data is real source data.
  bool HasBytes(size_t offset, size_t length) const {
    return offset + length <= count + valid_after && length <= count + kLookAhead;
  }
};

}  // namespace kestrel
