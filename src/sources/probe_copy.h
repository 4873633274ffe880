#pragma once
// A sparse in-memory copy of the parts of a split or EWF image that libblkid reads to find the
// partitions and file systems: the disk's first and last MiB and a few MiB around every
// partition's edges. libblkid reads only file descriptors; the copy is one, of the image's size,
// holding zeros wherever nothing was copied.

#include <cstdint>

#include "platform/byte_source.h"

namespace kestrel {

class ProbeCopy {
 public:
  // Copies what the probes need from `disk`; fd() is -1 when no memory file could be made.
  explicit ProbeCopy(ByteSource& disk);
  ~ProbeCopy();
  ProbeCopy(const ProbeCopy&) = delete;
  ProbeCopy& operator=(const ProbeCopy&) = delete;
  int fd() const { return fd_; }

 private:
  void Copy(uint64_t offset, uint64_t length);
  // Copies the edges of the partitions found so far; true when it copied anything new.
  bool CopyPartitionEdges();

  ByteSource& disk_;
  int fd_ = -1;
  uint64_t copied_partitions_ = 0;
};

}  // namespace kestrel
