#include "sources/scan_source.h"

#include <cstring>

namespace kestrel {

int TransferSectors(ByteSource& source, uint64_t first_sector, uint64_t count, uint8_t* buffer) {
  const uint64_t wanted = count * kSectorBytes;
  int64_t got = source.ReadAt(first_sector * kSectorBytes, buffer, wanted);
  uint64_t filled = got > 0 ? static_cast<uint64_t>(got) : 0;
  if (filled < wanted) std::memset(buffer + filled, 0, wanted - filled);
  const bool reached_end = first_sector * kSectorBytes + filled >= source.Size();
  return filled == wanted || (filled > 0 && reached_end) ? 0 : 1;
}

}  // namespace kestrel
