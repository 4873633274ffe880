#pragma once
// A source that several threads may read at once: every call to the source it wraps is made
// under one lock, except reads of a source that allows them from several threads. The raw scan's
// reading threads and the carving routines (which measure files from the source) share the
// source through it.

#include <mutex>

#include "platform/byte_source.h"

namespace kestrel {

class LockedSource : public ByteSource {
 public:
  explicit LockedSource(ByteSource& inner)
      : inner_(inner), concurrent_(inner.ReadsConcurrently()) {}

  int64_t ReadAt(uint64_t offset, void* buffer, size_t length) override {
    if (concurrent_) return inner_.ReadAt(offset, buffer, length);
    std::lock_guard<std::mutex> lock(mutex_);
    return inner_.ReadAt(offset, buffer, length);
  }
  uint64_t Size() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    return inner_.Size();
  }
  int LastError() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    return inner_.LastError();
  }
  bool ReadsConcurrently() const override { return true; }
  ByteRange DataFrom(uint64_t offset) override {
    std::lock_guard<std::mutex> lock(mutex_);
    return inner_.DataFrom(offset);
  }

 private:
  ByteSource& inner_;
  const bool concurrent_;  // reads of the inner source need no lock
  mutable std::mutex mutex_;
};

}  // namespace kestrel
