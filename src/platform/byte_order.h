#pragma once
// Unaligned loads of fixed-width fields in either byte order, for every on-disk and in-file
// structure (FAT, NTFS, TIFF, ZIP, QuickTime, ...). Callers check that the field lies inside
// their buffer.

#include <cstdint>

namespace kestrel {

inline uint16_t LoadLe16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}
inline uint32_t LoadLe32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
inline uint64_t LoadLe64(const uint8_t* p) {
  return uint64_t{LoadLe32(p)} | uint64_t{LoadLe32(p + 4)} << 32;
}
inline uint16_t LoadBe16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] << 8 | p[1]);
}
inline uint32_t LoadBe32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}
inline uint64_t LoadBe64(const uint8_t* p) {
  return uint64_t{LoadBe32(p)} << 32 | LoadBe32(p + 4);
}

inline uint16_t Load16(const uint8_t* p, bool big_endian) {
  return big_endian ? LoadBe16(p) : LoadLe16(p);
}
inline uint32_t Load32(const uint8_t* p, bool big_endian) {
  return big_endian ? LoadBe32(p) : LoadLe32(p);
}

}  // namespace kestrel
