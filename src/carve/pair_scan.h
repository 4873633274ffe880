#pragma once
// Which of a few byte pairs occur side by side near the start of a buffer, in one pass of
// vector compares: the cheap first look at a sector that decides which signature tests
// that search the header text are worth running.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kestrel {

struct BytePair {
  uint8_t first = 0;
  uint8_t second = 0;
};

// Whether any of `pairs` starts at an offset below `length` rounded up to a multiple of `Width`
// (so a pair just past `length` may count too). data[0 .. length rounded up + 1) must be
// readable. `Width` is the vector width in bytes: 16, or 32 inside functions built for AVX2
// (elsewhere 32-byte vectors are taken apart byte by byte).
template <size_t Width, size_t N>
[[gnu::always_inline]] inline bool AnyPairPresent(const uint8_t* data, size_t length,
                                                  const std::array<BytePair, N>& pairs) {
  typedef uint8_t Lanes __attribute__((vector_size(Width)));
  typedef signed char Mask __attribute__((vector_size(Width)));
  Mask found{};
  for (size_t i = 0; i < length; i += Width) {
    Lanes here;
    Lanes next;
    std::memcpy(&here, data + i, sizeof here);
    std::memcpy(&next, data + i + 1, sizeof next);
    for (const BytePair& pair : pairs) found |= (here == pair.first) & (next == pair.second);
  }
  uint64_t words[Width / 8];
  std::memcpy(words, &found, sizeof words);
  uint64_t any = 0;
  for (uint64_t word : words) any |= word;
  return any != 0;
}

// Bit k is set when pairs[k] is present in the sense above: a superset, for callers that then
// test exactly. One pass in the common case that none is present.
template <size_t Width, size_t N>
[[gnu::always_inline]] inline uint32_t PairsPresent(const uint8_t* data, size_t length,
                                                    const std::array<BytePair, N>& pairs) {
  static_assert(N <= 32);
  if (!AnyPairPresent<Width>(data, length, pairs)) return 0;
  uint32_t present = 0;
  for (size_t k = 0; k < N; ++k) {
    if (AnyPairPresent<Width>(data, length, std::array<BytePair, 1>{pairs[k]}))
      present |= uint32_t{1} << k;
  }
  return present;
}

}  // namespace kestrel
