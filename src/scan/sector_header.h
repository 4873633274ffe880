#pragma once
// The first bytes of a sector as the signature tests read them.

#include <cstdint>
#include <cstring>
#include <string_view>

#include "carve/sector_input.h"

namespace kestrel {

class SectorHeader {
 public:
  static constexpr uint32_t kBytes = 172;

  explicit SectorHeader(const SectorInput& in) : in_(in) {
    // "Contains" tests read the header as text that ends at its first zero byte.
    const void* zero = std::memchr(in.data, 0, kBytes);
    text_length_ =
        zero ? static_cast<uint32_t>(static_cast<const uint8_t*>(zero) - in.data) : kBytes;
  }

  const SectorInput& input() const { return in_; }
  uint8_t operator[](size_t i) const { return in_.data[i]; }
  const uint8_t* data() const { return in_.data; }

  bool StartsWith(size_t offset, std::string_view bytes) const {
    return std::memcmp(in_.data + offset, bytes.data(), bytes.size()) == 0;
  }
  // Whether the header text from `from` (up to its first zero byte) contains `needle` (of at
  // least two bytes).
  bool Contains(std::string_view needle, uint32_t from = 0) const {
    if (from >= kBytes || !MayContain(needle)) return false;
    uint32_t end = text_length_;
    if (from > 0) {
      const void* zero = std::memchr(in_.data + from, 0, kBytes - from);
      end = zero ? static_cast<uint32_t>(static_cast<const uint8_t*>(zero) - in_.data) : kBytes;
    }
    if (end <= from) return false;
    return memmem(in_.data + from, end - from, needle.data(), needle.size()) != nullptr;
  }

  uint32_t Le16(size_t i) const {
    return static_cast<uint32_t>(in_.data[i] | in_.data[i + 1] << 8);
  }
  uint32_t Be16(size_t i) const {
    return static_cast<uint32_t>(in_.data[i] << 8 | in_.data[i + 1]);
  }
  uint32_t Le32(size_t i) const {
    return static_cast<uint32_t>(in_.data[i]) | static_cast<uint32_t>(in_.data[i + 1]) << 8 |
           static_cast<uint32_t>(in_.data[i + 2]) << 16 |
           static_cast<uint32_t>(in_.data[i + 3]) << 24;
  }
  uint32_t Be32(size_t i) const {
    return static_cast<uint32_t>(in_.data[i]) << 24 | static_cast<uint32_t>(in_.data[i + 1]) << 16 |
           static_cast<uint32_t>(in_.data[i + 2]) << 8 | static_cast<uint32_t>(in_.data[i + 3]);
  }

 private:
  // A quick test that rules out most needles: whether each of the needle's first two byte pairs
  // occurs somewhere in the header (a hashed set of the header's byte pairs, built once).
  bool MayContain(std::string_view needle) const {
    if (!pairs_ready_) {
      for (uint32_t i = 0; i + 1 < kBytes; ++i) SetPair(in_.data[i], in_.data[i + 1]);
      pairs_ready_ = true;
    }
    const auto* n = reinterpret_cast<const uint8_t*>(needle.data());
    return HasPair(n[0], n[1]) && (needle.size() < 3 || HasPair(n[1], n[2]));
  }
  static uint32_t PairSlot(uint8_t a, uint8_t b) { return (uint32_t{a} * 31 + b) & 4095; }
  void SetPair(uint8_t a, uint8_t b) const {
    pairs_[PairSlot(a, b) >> 6] |= uint64_t{1} << (PairSlot(a, b) & 63);
  }
  bool HasPair(uint8_t a, uint8_t b) const {
    return (pairs_[PairSlot(a, b) >> 6] >> (PairSlot(a, b) & 63)) & 1;
  }

  const SectorInput& in_;
  uint32_t text_length_;
  mutable bool pairs_ready_ = false;
  mutable uint64_t pairs_[64] = {};
};

}  // namespace kestrel
