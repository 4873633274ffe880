#include "fs/exfat/exfat_fat.h"

#include <algorithm>

#include "platform/byte_order.h"

namespace kestrel {
namespace {

constexpr uint32_t kEndOfChain = 0xFFFFFFFF;

}  // namespace

ExfatFat::ExfatFat(ByteSource& volume, const ExfatGeometry& geometry)
    : volume_(volume), geometry_(geometry) {}

bool ExfatFat::Entry(uint32_t cluster, uint32_t* value) {
  const uint64_t at = uint64_t{cluster} * 4;
  if (at + 4 > geometry_.fat_bytes) return false;
  if (at < window_first_ || at + 4 > window_first_ + window_length_) {
    window_.resize(kWindowBytes);
    window_first_ = at - at % kWindowBytes;
    window_length_ = std::min<uint64_t>(kWindowBytes, geometry_.fat_bytes - window_first_);
    if (!volume_.ReadExact(geometry_.fat_offset + window_first_, window_.data(),
                           static_cast<size_t>(window_length_))) {
      window_length_ = 0;
      return false;
    }
  }
  *value = LoadLe32(window_.data() + (at - window_first_));
  return true;
}

uint32_t ExfatFat::Next(uint32_t cluster) {
  uint32_t value = 0;
  if (!geometry_.IsCluster(cluster) || !Entry(cluster, &value)) return 0;
  return geometry_.IsCluster(value) ? value : 0;
}

ClusterRuns ExfatFat::Chain(uint32_t first, uint64_t max_clusters, bool* complete) {
  ClusterRuns runs;
  ClusterSet seen;
  uint64_t length = 0;
  // A loop shows as a cluster met before; the chain is cut there.
  for (uint32_t cluster = first;
       geometry_.IsCluster(cluster) && length < max_clusters && !seen.Contains(cluster);
       cluster = Next(cluster)) {
    AppendCluster(&runs, cluster);
    seen.Add(cluster);
    ++length;
  }
  *complete = length == max_clusters;
  return runs;
}

ClusterRuns ExfatFat::ChainToEnd(uint32_t first, uint64_t max_clusters) {
  ClusterRuns runs;
  ClusterSet seen;
  uint32_t cluster = first;
  for (uint64_t length = 0; length < max_clusters; ++length) {
    if (!geometry_.IsCluster(cluster) || seen.Contains(cluster)) return {};
    AppendCluster(&runs, cluster);
    seen.Add(cluster);
    uint32_t value = 0;
    if (!Entry(cluster, &value)) return {};
    if (value == kEndOfChain) return runs;
    cluster = value;
  }
  return {};
}

}  // namespace kestrel
