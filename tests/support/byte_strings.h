#pragma once
// Byte strings for building test inputs: concatenation, text, 32-bit numbers.

#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <vector>

namespace kestrel::testing {

// The concatenation of byte strings.
inline std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

inline std::vector<uint8_t> Bytes(std::string_view text) {
  return {text.begin(), text.end()};
}

// `v` as 4 bytes, big-endian or little-endian.
inline std::vector<uint8_t> Be32Bytes(uint32_t v) {
  return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
}
inline std::vector<uint8_t> Le32Bytes(uint32_t v) {
  return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

}  // namespace kestrel::testing
