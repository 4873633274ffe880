// Where a deleted FAT file's bytes lie: its first cluster and the free clusters after it.

#include <algorithm>

#include "fs/fat/fat_recovery.h"

namespace kestrel {
namespace {

// The live file's chain, for an entry that was never marked deleted (a recycled file).
FilePlan PlanLiveFile(FatVolume& volume, uint32_t first, uint64_t size, uint64_t needed) {
  FilePlan plan;
  plan.clusters = volume.Chain(first, static_cast<size_t>(needed));
  plan.bytes =
      std::min<uint64_t>(size, uint64_t{plan.clusters.size()} * volume.info().BytesPerCluster());
  if (plan.clusters.size() < needed) plan.state = FileState::kPartlyOverwritten;
  return plan;
}

}  // namespace

uint32_t FirstClusterOf(const DeletedEntry& entry, FatType type) {
  if (type == FatType::kFat32) return (uint32_t{entry.cluster_high} << 16) | entry.cluster_low;
  return entry.cluster_low;
}

FilePlan PlanFileClusters(FatVolume& volume, const DeletedEntry& entry) {
  const FatVolumeInfo& info = volume.info();
  FilePlan plan;
  if (entry.size_bytes == 0) return plan;
  const uint32_t first = FirstClusterOf(entry, info.fat_type);
  const uint64_t cluster_bytes = info.BytesPerCluster();
  const uint64_t needed = (entry.size_bytes + cluster_bytes - 1) / cluster_bytes;
  // A file larger than the data region from its first cluster on was never there.
  if (!info.IsDataCluster(first) || needed > uint64_t{info.LastCluster()} - first + 1) {
    plan.valid = false;
    return plan;
  }
  if (entry.entry_live && !volume.IsFree(first)) {
    return PlanLiveFile(volume, first, entry.size_bytes, needed);
  }
  if (!volume.IsFree(first)) {
    plan.state = FileState::kOverwritten;
    return plan;
  }
  bool skipped = false;
  for (uint32_t cluster = first; cluster <= info.LastCluster() && plan.clusters.size() < needed;
       ++cluster) {
    if (volume.IsFree(cluster)) {
      plan.clusters.push_back(cluster);
    } else {
      skipped = true;  // another file's cluster: passed over
    }
  }
  plan.bytes = std::min<uint64_t>(entry.size_bytes, plan.clusters.size() * cluster_bytes);
  if (skipped || plan.clusters.size() < needed) plan.state = FileState::kPartlyOverwritten;
  return plan;
}

}  // namespace kestrel
