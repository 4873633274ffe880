#include "carve/formats/mov_nal_chain.h"

#include <algorithm>
#include <span>

namespace kestrel {
namespace {

bool ZerosUpTo(CheckWindow& window, uint64_t at, uint64_t end) {
  while (at < end) {
    const std::span<const uint8_t> bytes =
        window.At(at, static_cast<size_t>(std::min<uint64_t>(end - at, window.capacity())));
    if (bytes.empty()) return true;
    if (!std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; })) return false;
    at += bytes.size();
  }
  return true;
}

}  // namespace

NalChain ReadNalChain(CheckWindow& window, uint64_t offset, uint64_t size, uint32_t length_size,
                      bool hevc, uint64_t* units_left) {
  const uint64_t end = offset + size;
  const uint32_t header_bytes = hevc ? 2 : 1;
  for (uint64_t at = offset; at < end;) {
    if (*units_left == 0) return {true, at};
    --*units_left;
    const uint64_t left = end - at;
    const size_t wanted = static_cast<size_t>(std::min<uint64_t>(left, length_size + header_bytes));
    const std::span<const uint8_t> bytes = window.At(at, wanted);
    if (bytes.size() != wanted) return {true, at};
    const uint64_t probed = at + wanted;
    uint64_t unit = 0;
    for (uint32_t k = 0; k < length_size && k < bytes.size(); ++k) unit = unit << 8 | bytes[k];
    if (unit == 0 || left < length_size) {
      return {at != offset && ZerosUpTo(window, at, end), at != offset ? end : probed};
    }
    if (unit < header_bytes || unit > left - length_size) return {false, probed};
    if ((bytes[length_size] & 0x80) != 0) return {false, probed};           // the forbidden bit
    if (hevc && (bytes[length_size + 1] & 7) == 0) return {false, probed};  // temporal id plus 1
    at += length_size + unit;
    if (at >= end) return {true, probed};
  }
  return {true, end};
}

}  // namespace kestrel
