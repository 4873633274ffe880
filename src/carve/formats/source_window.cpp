#include "carve/formats/source_window.h"

#include <algorithm>
#include <cstring>

namespace kestrel {

SourceWindow::SourceWindow(ByteSource& source, uint64_t start, uint64_t length, size_t window_bytes)
    : source_(source), start_(start), length_(length), window_(window_bytes) {}

const uint8_t* SourceWindow::At(uint64_t at, size_t n) {
  if (at > length_ || n > length_ - at || n > window_.size()) return nullptr;
  if (at >= window_at_ && at + n <= window_end_) return window_.data() + (at - window_at_);
  const size_t count = static_cast<size_t>(std::min<uint64_t>(window_.size(), length_ - at));
  if (!source_.ReadExact(start_ + at, window_.data(), count)) {
    failed_ = true;
    window_at_ = window_end_ = 0;
    return nullptr;
  }
  bytes_read_ += count;
  window_at_ = at;
  window_end_ = at + count;
  return window_.data();
}

bool SourceWindow::Padded(uint64_t at, uint8_t* out, size_t n) {
  std::memset(out, 0, n);
  const size_t held = at < length_ ? static_cast<size_t>(std::min<uint64_t>(n, length_ - at)) : 0;
  if (held == 0) return true;
  const uint8_t* p = At(at, held);
  if (p == nullptr) return false;
  std::memcpy(out, p, held);
  return true;
}

}  // namespace kestrel
