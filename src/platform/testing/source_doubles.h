#pragma once
// Test doubles of the read-only source interface: a source held in memory, one of zeros only and
// a wrapper whose chosen sectors fail to read. Built as their own library, linked by tests, fuzzers
// and tools only.

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/byte_source.h"

namespace kestrel {

// Wraps a source so that chosen sectors fail to read. A read that touches a failing sector fails
// as a whole, as a device's would.
class FaultInjectingSource : public ByteSource {
 public:
  explicit FaultInjectingSource(std::unique_ptr<ByteSource> inner) : inner_(std::move(inner)) {}
  // Sectors [first, first + count) fail to read `times` times (-1: always).
  void FailSectors(uint64_t first, uint64_t count, int times = -1);
  int64_t ReadAt(uint64_t offset, void* buffer, size_t length) override;
  uint64_t Size() const override { return inner_->Size(); }
  int LastError() const override { return last_error_; }
  uint64_t failed_reads() const { return failed_reads_; }

 private:
  struct Fault {
    uint64_t first, count;
    int times;
  };
  std::unique_ptr<ByteSource> inner_;
  std::vector<Fault> faults_;
  int last_error_ = 0;
  uint64_t failed_reads_ = 0;
};

// A source held in memory.
class MemorySource : public ByteSource {
 public:
  explicit MemorySource(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  int64_t ReadAt(uint64_t offset, void* buffer, size_t length) override;
  uint64_t Size() const override { return bytes_.size(); }
  std::vector<uint8_t>& bytes() { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

// A source of `size` zero bytes that keeps none of them in memory: a volume larger than a test
// can build.
class ZeroSource : public ByteSource {
 public:
  explicit ZeroSource(uint64_t size) : size_(size) {}
  int64_t ReadAt(uint64_t offset, void* buffer, size_t length) override;
  uint64_t Size() const override { return size_; }

 private:
  uint64_t size_;
};

}  // namespace kestrel
