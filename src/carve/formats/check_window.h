#pragma once
// A carved file's bytes read from its source through one bounded window, for the whole-file
// checks: a read that falls outside the window refills it from the read's offset, so a check
// that walks the file forwards reads each byte about once and never holds more than the window.

#include <cstdint>
#include <span>
#include <vector>

#include "platform/byte_source.h"

namespace kestrel {

class CheckWindow {
 public:
  // The file of `length` bytes at byte `start` of `source`, read `capacity` bytes at a time.
  CheckWindow(ByteSource& source, uint64_t start, uint64_t length, size_t capacity = 64 * 1024);

  uint64_t length() const { return length_; }
  size_t capacity() const { return buffer_.size(); }
  // A read of the source failed: what the check saw of the file is not all there is.
  bool failed() const { return failed_; }

  // Up to `want` bytes (at most the capacity) of the file from `offset` on: fewer at the file's
  // end, none at or past it or when the read fails.
  std::span<const uint8_t> At(uint64_t offset, size_t want);

  // The byte at `offset`; -1 at or past the file's end or when the read fails.
  int Byte(uint64_t offset) {
    if (offset >= first_ && offset - first_ < filled_) return buffer_[offset - first_];
    const std::span<const uint8_t> bytes = At(offset, 1);
    return bytes.empty() ? -1 : bytes[0];
  }

 private:
  ByteSource& source_;
  uint64_t start_;
  uint64_t length_;
  std::vector<uint8_t> buffer_;
  uint64_t first_ = 0;  // file offset of buffer_[0]
  size_t filled_ = 0;
  bool failed_ = false;
};

}  // namespace kestrel
