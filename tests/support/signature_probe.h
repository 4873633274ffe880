#pragma once
// An independent check of the 35 signature rows of the header dispatch, for checking test data:
// which rows' signatures and extra tests a sector satisfies, ignoring guards and the selection
// (all types selected, KDC included, so row 8 never matches). It does not start or carve anything;
// it tells the tests whether a sample's first sector starts its row and whether any other sector
// would start a file.

#include <cstdint>
#include <span>
#include <vector>

namespace kestrel::testing {

inline constexpr int kSignatureRowCount = 35;

// Rows (1..35) whose signature and extra tests `sector` satisfies, in row order. `sector` is one
// 512-byte sector; rows that read past 171 read it, never beyond it.
std::vector<int> MatchingSignatureRows(std::span<const uint8_t> sector);

// The first of MatchingSignatureRows, 0 when none.
int FirstSignatureRow(std::span<const uint8_t> sector);

}  // namespace kestrel::testing
