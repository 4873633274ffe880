#pragma once
// The chunks of a raw scan in source order, read and ready to be carved. Two implementations:
// the one-thread reader (ChunkReaderStream) and the read-ahead thread (ReadAheadStream).

#include <cstdint>

#include "carve/sector_input.h"

namespace kestrel {

struct ScanChunk {
  uint64_t first = 0;   // first sector
  uint32_t count = 0;   // sectors, 1..64
  bool read_ok = true;  // false: the read failed (what was read is kept, the rest is zeros)
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
  // Whether the stream ended early because the reading thread ran out of memory.
  virtual bool failed() const { return false; }
};

}  // namespace kestrel
