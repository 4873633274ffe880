#pragma once
// The FAT of an exFAT volume: cluster chains of fragmented files and folders, read through a
// small window. Contiguous files (NoFatChain) and the state of clusters (the allocation
// bitmap) do not come from here.

#include <cstdint>
#include <vector>

#include "fs/exfat/exfat_boot.h"
#include "fs/exfat/exfat_clusters.h"
#include "platform/byte_source.h"

namespace kestrel {

class ExfatFat {
 public:
  ExfatFat(ByteSource& volume, const ExfatGeometry& geometry);

  // The cluster after `cluster` in its chain, or 0 at the chain's end: the end mark, a bad
  // cluster mark, a free entry, any value outside the heap, or an unreadable FAT entry.
  uint32_t Next(uint32_t cluster);

  // The chain from `first`, at most `max_clusters` long; `complete` tells whether it reached
  // that length. A chain that comes back to a cluster it holds is cut before it.
  ClusterRuns Chain(uint32_t first, uint64_t max_clusters, bool* complete);

  // The chain from `first` to its end mark, at most `max_clusters` long (a folder without a
  // recorded size: the root). Empty when it does not end at an end mark within that length.
  ClusterRuns ChainToEnd(uint32_t first, uint64_t max_clusters);

 private:
  static constexpr size_t kWindowBytes = 64 * 1024;

  // Entry `cluster`; false when it cannot be read.
  bool Entry(uint32_t cluster, uint32_t* value);

  ByteSource& volume_;
  const ExfatGeometry& geometry_;
  std::vector<uint8_t> window_;
  uint64_t window_first_ = 0;  // byte of the FAT the window starts at
  uint64_t window_length_ = 0;
};

}  // namespace kestrel
