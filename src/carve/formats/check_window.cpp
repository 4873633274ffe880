#include "carve/formats/check_window.h"

#include <algorithm>

namespace kestrel {

CheckWindow::CheckWindow(ByteSource& source, uint64_t start, uint64_t length, size_t capacity)
    : source_(source), start_(start), length_(length), buffer_(capacity) {}

std::span<const uint8_t> CheckWindow::At(uint64_t offset, size_t want) {
  if (offset >= length_) return {};
  const size_t n =
      static_cast<size_t>(std::min<uint64_t>({want, buffer_.size(), length_ - offset}));
  if (offset >= first_ && offset - first_ + n <= filled_) {
    return {buffer_.data() + (offset - first_), n};
  }
  const size_t fill = static_cast<size_t>(std::min<uint64_t>(buffer_.size(), length_ - offset));
  if (!source_.ReadExact(start_ + offset, buffer_.data(), fill)) {
    failed_ = true;
    filled_ = 0;
    return {};
  }
  first_ = offset;
  filled_ = fill;
  return {buffer_.data(), n};
}

}  // namespace kestrel
