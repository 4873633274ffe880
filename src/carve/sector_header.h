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
  // Whether the header text from `from` (up to its first zero byte) contains `needle` (not
  // empty).
  bool Contains(std::string_view needle, uint32_t from = 0) const {
    if (from >= kBytes) return false;
    uint32_t end = text_length_;
    if (from > 0) {
      const void* zero = std::memchr(in_.data + from, 0, kBytes - from);
      end = zero ? static_cast<uint32_t>(static_cast<const uint8_t*>(zero) - in_.data) : kBytes;
    }
    if (end <= from || end - from < needle.size()) return false;
    // The needle's first byte is rare in most sectors: a vectorised search for it, then a
    // comparison at each place it occurs.
    const uint8_t* const last = in_.data + end - needle.size();
    const auto first = static_cast<uint8_t>(needle[0]);
    for (const uint8_t* p = in_.data + from; p <= last; ++p) {
      p = static_cast<const uint8_t*>(std::memchr(p, first, static_cast<size_t>(last - p) + 1));
      if (p == nullptr) return false;
      if (std::memcmp(p, needle.data(), needle.size()) == 0) return true;
    }
    return false;
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
  const SectorInput& in_;
  uint32_t text_length_;
};

}  // namespace kestrel
