#include "platform/testing/source_doubles.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/sector_size.h"

namespace kestrel {

void FaultInjectingSource::FailSectors(uint64_t first, uint64_t count, int times) {
  faults_.push_back({first, count, times});
}

int64_t FaultInjectingSource::ReadAt(uint64_t offset, void* buffer, size_t length) {
  const uint64_t first = offset / kSectorBytes;
  const uint64_t end = (offset + length + kSectorBytes - 1) / kSectorBytes;
  bool failed = false;
  for (Fault& fault : faults_) {
    if (fault.times == 0 || first >= fault.first + fault.count || fault.first >= end) continue;
    if (fault.times > 0) --fault.times;
    failed = true;
  }
  if (failed) {
    ++failed_reads_;
    last_error_ = EIO;
    // A failing device may have written garbage into the buffer; make that visible.
    std::memset(buffer, 0xEE, length);
    return -1;
  }
  return inner_->ReadAt(offset, buffer, length);
}

int64_t MemorySource::ReadAt(uint64_t offset, void* buffer, size_t length) {
  if (offset >= bytes_.size()) return 0;
  size_t n = static_cast<size_t>(std::min<uint64_t>(length, bytes_.size() - offset));
  std::memcpy(buffer, bytes_.data() + offset, n);
  return static_cast<int64_t>(n);
}

int64_t ZeroSource::ReadAt(uint64_t offset, void* buffer, size_t length) {
  if (offset >= size_) return 0;
  const size_t n = static_cast<size_t>(std::min<uint64_t>(length, size_ - offset));
  std::memset(buffer, 0, n);
  return static_cast<int64_t>(n);
}

}  // namespace kestrel
