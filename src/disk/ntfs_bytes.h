#pragma once
// Little-endian fields of NTFS structures. Callers check that the field lies inside the buffer.

#include <cstdint>

namespace kestrel::ntfs {

inline uint16_t Le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
inline uint64_t Le64(const uint8_t* p) {
  return uint64_t{Le32(p)} | (uint64_t{Le32(p + 4)} << 32);
}

}  // namespace kestrel::ntfs
