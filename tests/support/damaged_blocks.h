#pragma once
// Files as a contiguous carve of a fragmented disk gives them, for the tests of the whole-file
// checks: a 4 KiB block replaced by foreign bytes or missing, the head of one file followed by
// the tail of another.

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <vector>

#include "carve/format.h"

namespace kestrel {

// Verdicts by name in test messages.
inline void PrintTo(Whole whole, std::ostream* out) {
  *out << (whole == Whole::kYes ? "kYes" : whole == Whole::kNo ? "kNo" : "kUnchecked");
}

}  // namespace kestrel

namespace kestrel::testing {

inline constexpr size_t kDamageBlock = 4096;

// 4 KiB of random bytes, of English text, of zeros.
std::vector<uint8_t> NoiseBlock(uint32_t seed = 7);
std::vector<uint8_t> TextBlock();
std::vector<uint8_t> ZeroBlock();

// `file` with the 4 KiB at `at` overwritten by `block`.
std::vector<uint8_t> WithBlock(std::vector<uint8_t> file, size_t at,
                               const std::vector<uint8_t>& block);
// `file` without the 4 KiB at `at`: what follows moves up.
std::vector<uint8_t> WithoutBlock(std::vector<uint8_t> file, size_t at);
// The first `at` bytes of `head`, then `tail` from its byte `at` on.
std::vector<uint8_t> Spliced(const std::vector<uint8_t>& head, const std::vector<uint8_t>& tail,
                             size_t at);

// The check's verdict on `file` held in memory.
Whole CheckInMemory(WholeCheck check, const std::vector<uint8_t>& file);

}  // namespace kestrel::testing
