#pragma once
// Writes ISO media (QuickTime, MP4) atoms for the movie carving tests.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "support/tiff_builder.h"

namespace kestrel::testing {

inline void PutBe32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  for (int k = 0; k < 4; ++k) bytes[at + k] = static_cast<uint8_t>(value >> (24 - 8 * k));
}

// An atom of `size` bytes (header included) of `type`, its body a pattern.
inline std::vector<uint8_t> Atom(const char* type, uint32_t size, uint8_t seed = 1) {
  std::vector<uint8_t> atom = PatternBytes(std::max<uint32_t>(size, 8), seed);
  PutBe32(atom, 0, size);
  std::memcpy(atom.data() + 4, type, 4);
  return atom;
}

// An atom with size field 1 and the 64-bit size `size`, of which `stored` bytes are made.
inline std::vector<uint8_t> WideAtom(const char* type, uint64_t size, size_t stored) {
  std::vector<uint8_t> atom = PatternBytes(stored, 5);
  PutBe32(atom, 0, 1);
  std::memcpy(atom.data() + 4, type, 4);
  PutBe32(atom, 8, static_cast<uint32_t>(size >> 32));
  PutBe32(atom, 12, static_cast<uint32_t>(size));
  return atom;
}

}  // namespace kestrel::testing
