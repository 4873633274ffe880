#pragma once
// A carved file's bytes read from its source through one bounded window, for the structural
// checks that walk a file's chain of headers: a request inside the window costs nothing, one
// outside it reads the window anew from the requested offset on. Memory stays at the window's
// size whatever the file's length.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "carve/format.h"
#include "platform/byte_source.h"

namespace kestrel {

class SourceWindow {
 public:
  // The file of `length` bytes at byte `start` of `source`, read `window_bytes` at a time.
  SourceWindow(ByteSource& source, uint64_t start, uint64_t length, size_t window_bytes);

  // The `n` bytes (at most the window's size) at file offset `at`; null when they reach past
  // the file's end or the source cannot be read there (failed() tells which).
  const uint8_t* At(uint64_t at, size_t n);
  // The bytes at `at` that the file holds, up to `n` of them, copied into `out` and the rest of
  // `n` filled with zeros: for fixed-size headers that may be cut by the file's end. False when
  // the source cannot be read.
  bool Padded(uint64_t at, uint8_t* out, size_t n);

  uint64_t length() const { return length_; }
  bool failed() const { return failed_; }
  // Bytes read from the source so far.
  uint64_t bytes_read() const { return bytes_read_; }

 private:
  ByteSource& source_;
  uint64_t start_, length_;
  std::vector<uint8_t> window_;
  uint64_t window_at_ = 0, window_end_ = 0;  // file offsets the window holds
  uint64_t bytes_read_ = 0;
  bool failed_ = false;
};

// The verdict on a structure whose bytes At() did not give: the file ends before them (not
// whole), or the source could not be read there (nothing can be told).
inline Whole Unreached(const SourceWindow& window) {
  return window.failed() ? Whole::kUnchecked : Whole::kNo;
}

}  // namespace kestrel
