#pragma once
// The allocation bitmap of an exFAT volume: one bit per cluster of the heap, set when the
// cluster is in use. It is held whole up to a window's size (64 MiB covers a 2 TiB volume with
// 4 KiB clusters) and read through the window beyond. A part that cannot be read counts as in
// use, so nothing is taken for free only because its bit was unreadable.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fs/exfat/exfat_boot.h"
#include "fs/exfat/exfat_clusters.h"
#include "platform/byte_source.h"

namespace kestrel {

inline constexpr size_t kExfatBitmapWindowBytes = 64u << 20;

class ExfatBitmap {
 public:
  // The bitmap's bytes lie in `clusters` of the heap; it describes the volume's clusters.
  ExfatBitmap(ByteSource& volume, const ExfatGeometry& geometry, ClusterRuns clusters,
              size_t window_bytes = kExfatBitmapWindowBytes);

  bool InUse(uint32_t cluster);
  // The first cluster from `cluster` on (up to LastCluster()) whose bit is `in_use`;
  // LastCluster() + 1 when there is none.
  uint64_t Find(uint64_t cluster, bool in_use);
  // Whether a read of the bitmap failed.
  bool failed() const { return failed_; }
  // Reads the whole bitmap once: whether every part of it can be read.
  bool ReadsWhole();

 private:
  // Makes bitmap byte `byte` part of the window; false when it cannot be read.
  bool Load(uint64_t byte);
  bool ReadBitmapBytes(uint64_t first, uint8_t* out, size_t length);

  ByteSource& volume_;
  const ExfatGeometry& geometry_;
  ClusterRuns clusters_;
  uint64_t bitmap_bytes_;
  size_t window_bytes_;
  std::vector<uint8_t> window_;
  uint64_t window_first_ = 0;
  uint64_t window_length_ = 0;
  bool failed_ = false;
};

}  // namespace kestrel
