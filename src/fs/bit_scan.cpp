#include "fs/bit_scan.h"

namespace kestrel {

uint64_t FindBit(const uint8_t* bytes, uint64_t from, uint64_t end, bool set) {
  const uint8_t skip = set ? 0x00 : 0xFF;  // bytes that hold no such bit
  for (uint64_t bit = from; bit < end;) {
    const uint8_t value = bytes[bit / 8];
    if (bit % 8 == 0 && value == skip) {
      bit += 8;
      continue;
    }
    if (((value >> (bit % 8)) & 1) == (set ? 1 : 0)) return bit;
    ++bit;
  }
  return end;
}

}  // namespace kestrel
