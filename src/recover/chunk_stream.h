#pragma once
// The chunks of a raw scan in source order, read and ready to be carved. Two implementations:
// the one-thread reader (ChunkReaderStream) and the read-ahead thread (ReadAheadStream).

#include <algorithm>
#include <cstdint>

#include "carve/sector_input.h"
#include "platform/sector_size.h"

namespace kestrel {

struct ScanChunk {
  uint64_t first = 0;   // first sector
  uint32_t count = 0;   // sectors, 1..64
  bool read_ok = true;  // false: the read failed (what was read is kept, the rest is zeros)
  bool zeros = false;   // known without a read to hold only zeros (a hole of a sparse image)
};

class ChunkStream {
 public:
  virtual ~ChunkStream() = default;

  // The next chunk of the plan; false at its end (or when the stream failed()).
  virtual bool Next(ScanChunk* chunk) = 0;
  // Reads the current chunk again (Retry); true when it read.
  virtual bool Reread(const ScanChunk& chunk) = 0;
  // A sector of the current chunk, with its window; valid until the next call of Next.
  virtual SectorInput Sector(uint64_t sector) const = 0;
  // Whether the stream ended early because a reading thread ran out of memory.
  virtual bool failed() const { return false; }
};

// The sector `sector`, whose bytes start at `data` inside a buffer that holds the look-behind and
// look-ahead around it, with the window's real bytes counted against a source of `source_bytes`.
inline SectorInput SectorWithWindow(const uint8_t* data, uint64_t sector, uint64_t source_bytes) {
  SectorInput in;
  in.data = data;
  in.count = kSectorBytes;
  in.sector = sector;
  const uint64_t end = (sector + 1) * kSectorBytes;
  in.valid_after = static_cast<size_t>(
      end >= source_bytes ? 0 : std::min<uint64_t>(kLookAhead, source_bytes - end));
  in.valid_before = static_cast<size_t>(std::min<uint64_t>(kLookBehind, sector * kSectorBytes));
  return in;
}

}  // namespace kestrel
