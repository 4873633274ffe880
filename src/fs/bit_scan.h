#pragma once
// Searching an allocation bitmap held in memory (one bit per cluster, lowest bit first): the
// byte-at-a-time scan that exFAT's and NTFS's bitmaps share.

#include <cstdint>

namespace kestrel {

// The first bit number in [from, end) of `bytes` whose value is `set`; `end` when there is none.
// Bytes that hold no such bit are passed over whole.
uint64_t FindBit(const uint8_t* bytes, uint64_t from, uint64_t end, bool set);

}  // namespace kestrel
