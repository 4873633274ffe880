#pragma once
// Where a structure that a fragmented file's tables place at a known offset within its unit may
// lie nearby: every unit between two source offsets is looked at that offset, the source read a
// block at a time rather than unit by unit.

#include <algorithm>
#include <cstdint>
#include <vector>

#include "carve/format.h"
#include "platform/byte_source.h"

namespace kestrel {

// The source offsets `phase` bytes into each unit from the boundary `low` up to `high` whose
// `head` bytes satisfy `matches(bytes)`; the search ends with the block in which `max_hits` are
// reached, or at a read that fails.
template <typename Matches>
std::vector<uint64_t> FindAtPhase(ByteSource& source, const ByteUnits& units, uint64_t phase,
                                  uint64_t low, uint64_t high, uint64_t head, size_t max_hits,
                                  Matches matches) {
  constexpr uint64_t kBlockBytes = uint64_t{1} << 20;
  const uint64_t step = std::max<uint64_t>(1, kBlockBytes / units.bytes) * units.bytes;
  std::vector<uint64_t> hits;
  std::vector<uint8_t> block;
  for (uint64_t at = low; at < high && at < source.Size() && hits.size() < max_hits; at += step) {
    // A block and the start of the next: the bytes looked at may cross into it.
    const uint64_t n = std::min(step + head, source.Size() - at);
    block.resize(static_cast<size_t>(n));
    if (!source.ReadExact(at, block.data(), block.size())) break;
    for (uint64_t in = phase; in + head <= n && in < step && at + in < high; in += units.bytes) {
      if (matches(block.data() + in)) hits.push_back(at + in);
    }
  }
  return hits;
}

}  // namespace kestrel
