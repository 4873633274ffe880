#include "sources/probe_copy.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "platform/blkid_probe.h"

namespace kestrel {
namespace {

constexpr uint64_t kMiB = 1 << 20;
// Bytes copied at each edge: the partition table and boot sectors, the backup GPT, an extended
// partition's next boot record, and the start of a file system (its boot sector, FAT32 and
// exFAT parameters, the first records of a small volume's root folder or MFT).
constexpr uint64_t kEdgeBytes = 4 * kMiB;
// Rounds of partition probing: each may find logical partitions behind the ones found before.
constexpr int kMaxRounds = 64;

}  // namespace

ProbeCopy::ProbeCopy(ByteSource& disk) : disk_(disk) {
  fd_ = memfd_create("kestrel-probe", MFD_CLOEXEC);
  if (fd_ < 0) return;
  if (ftruncate(fd_, static_cast<off_t>(disk_.Size())) != 0) {
    ::close(fd_);
    fd_ = -1;
    return;
  }
  Copy(0, kEdgeBytes);
  Copy(disk_.Size() >= kMiB ? disk_.Size() - kMiB : 0, kMiB);
  for (int round = 0; round < kMaxRounds && CopyPartitionEdges(); ++round) {
  }
}

ProbeCopy::~ProbeCopy() {
  if (fd_ >= 0) ::close(fd_);
}

void ProbeCopy::Copy(uint64_t offset, uint64_t length) {
  if (offset >= disk_.Size()) return;
  length = std::min(length, disk_.Size() - offset);
  std::vector<uint8_t> buffer(static_cast<size_t>(length));
  const int64_t got = disk_.ReadAt(offset, buffer.data(), buffer.size());
  if (got <= 0) return;
  if (pwrite(fd_, buffer.data(), static_cast<size_t>(got), static_cast<off_t>(offset)) < 0) return;
}

bool ProbeCopy::CopyPartitionEdges() {
  std::optional<std::vector<PartitionSlice>> slices = ProbePartitions(fd_);
  if (!slices || slices->size() <= copied_partitions_) return false;
  for (size_t i = copied_partitions_; i < slices->size(); ++i) {
    const PartitionSlice& slice = (*slices)[i];
    Copy(slice.offset >= kMiB ? slice.offset - kMiB : 0, kMiB + kEdgeBytes);
    Copy(slice.offset + slice.bytes, kMiB);
  }
  copied_partitions_ = slices->size();
  return true;
}

}  // namespace kestrel
