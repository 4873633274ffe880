#pragma once
// The bytes of a carved file ([start, start + length) of a source) read through one bounded
// window, for the structural checks that jump around a file: a read inside the window is served
// from it, any other read refills the window from the source at that offset. Memory stays the
// window's size whatever the file's.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/byte_source.h"

namespace kestrel {

class FileWindow {
 public:
  static constexpr size_t kDefaultBytes = 64 * 1024;

  FileWindow(ByteSource& source, uint64_t start, uint64_t length,
             size_t window_bytes = kDefaultBytes);

  uint64_t length() const { return length_; }
  size_t window_bytes() const { return window_bytes_; }
  // Whether `n` bytes at `offset` lie wholly inside the file (overflow-safe).
  bool Holds(uint64_t offset, uint64_t n) const {
    return offset <= length_ && n <= length_ - offset;
  }

  // The `n` bytes at `offset` (n at most the window's size); null when they do not lie wholly
  // inside the file or the source fails to read them. Valid until the next call.
  const uint8_t* Bytes(uint64_t offset, size_t n);
  // Copies `n` bytes at `offset` (any n) to `out`; false where Bytes would give null.
  bool Read(uint64_t offset, uint8_t* out, size_t n);

 private:
  ByteSource& source_;
  uint64_t start_, length_;
  // Not cleared when made: only bytes read into it are ever given out.
  std::unique_ptr<uint8_t[]> window_;
  size_t window_bytes_;
  uint64_t window_offset_ = 0;  // the file offset of the window's first byte
  size_t window_filled_ = 0;
};

}  // namespace kestrel
