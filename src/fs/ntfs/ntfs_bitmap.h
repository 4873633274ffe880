#pragma once
// The volume's $Bitmap (one bit per cluster, set when the cluster is in use), read through a
// window of its content so that memory stays small on any volume. Clusters the bitmap does not
// describe (past its end, or past a read that failed) count as free.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "fs/ntfs/ntfs_data_reader.h"

namespace kestrel {

class NtfsBitmap {
 public:
  // `bitmap` reads $Bitmap's content; `clusters` is the volume's cluster count.
  NtfsBitmap(const NtfsDataReader& bitmap, uint64_t clusters, size_t window_bytes);

  uint64_t clusters() const { return clusters_; }
  // Whether a read of the bitmap failed (the rest then counts as free).
  bool failed() const { return failed_; }

  bool InUse(uint64_t cluster);
  // The first cluster from `cluster` on whose bit is `in_use`; clusters() when there is none.
  uint64_t FindCluster(uint64_t cluster, bool in_use);

 private:
  // Makes the bitmap byte `byte` part of the window; false when the bitmap does not hold it.
  bool Load(uint64_t byte);

  NtfsDataReader start_;
  uint64_t clusters_;
  std::optional<NtfsDataReader> reader_;
  std::vector<uint8_t> window_;
  uint64_t window_start_ = 0;
  uint64_t window_length_ = 0;
  bool failed_ = false;
};

}  // namespace kestrel
