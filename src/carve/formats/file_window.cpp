#include "carve/formats/file_window.h"

#include <algorithm>
#include <cstring>

namespace kestrel {

FileWindow::FileWindow(ByteSource& source, uint64_t start, uint64_t length, size_t window_bytes)
    : source_(source),
      start_(start),
      length_(length),
      window_(std::make_unique_for_overwrite<uint8_t[]>(window_bytes)),
      window_bytes_(window_bytes) {}

const uint8_t* FileWindow::Bytes(uint64_t offset, size_t n) {
  if (n > window_bytes_ || !Holds(offset, n)) return nullptr;
  if (offset >= window_offset_ && offset - window_offset_ + n <= window_filled_) {
    return window_.get() + (offset - window_offset_);
  }
  const size_t fill = static_cast<size_t>(std::min<uint64_t>(window_bytes_, length_ - offset));
  window_filled_ = 0;
  if (!source_.ReadExact(start_ + offset, window_.get(), fill)) return nullptr;
  window_offset_ = offset;
  window_filled_ = fill;
  return window_.get();
}

bool FileWindow::Read(uint64_t offset, uint8_t* out, size_t n) {
  if (!Holds(offset, n)) return false;
  while (n > 0) {
    const size_t piece = std::min(n, window_bytes_);
    const uint8_t* bytes = Bytes(offset, piece);
    if (bytes == nullptr) return false;
    std::memcpy(out, bytes, piece);
    out += piece;
    offset += piece;
    n -= piece;
  }
  return true;
}

}  // namespace kestrel
