// The bitmap search that exFAT and NTFS share: set and clear bits found from any start, whole
// bytes passed over, and the end bound kept inside a byte.
#include "fs/bit_scan.h"

#include <gtest/gtest.h>

#include <vector>

namespace kestrel {
namespace {

// A brute-force answer to compare with.
uint64_t Slow(const std::vector<uint8_t>& bytes, uint64_t from, uint64_t end, bool set) {
  for (uint64_t bit = from; bit < end; ++bit) {
    if (((bytes[bit / 8] >> (bit % 8)) & 1) == (set ? 1 : 0)) return bit;
  }
  return end;
}

TEST(FindBit, AgreesWithABitByBitSearchFromEveryStartToEveryEnd) {
  // Full, empty and mixed bytes: runs of whole bytes to pass over and lone bits inside them.
  const std::vector<uint8_t> bytes = {0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x10, 0xFF, 0x00, 0x01, 0xFE};
  const uint64_t bits = bytes.size() * 8;
  for (bool set : {false, true}) {
    for (uint64_t from = 0; from <= bits; ++from) {
      for (uint64_t end = from; end <= bits; ++end) {
        ASSERT_EQ(FindBit(bytes.data(), from, end, set), Slow(bytes, from, end, set))
            << "set " << set << " from " << from << " end " << end;
      }
    }
  }
}

}  // namespace
}  // namespace kestrel
