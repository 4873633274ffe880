#include "fs/exfat/exfat_plan.h"

#include <algorithm>

namespace kestrel {
namespace {

bool AllFree(ExfatBitmap& bitmap, const ClusterRuns& runs) {
  return std::all_of(runs.begin(), runs.end(), [&bitmap](const ClusterRun& run) {
    return bitmap.Find(run.first, true) >= run.end();
  });
}

// The set's own allocation: its contiguous clusters, or its FAT chain as far as it goes.
ClusterRuns Allocation(ExfatVolume& volume, const ExfatEntrySet& set, uint64_t needed,
                       bool* complete) {
  if (set.no_fat_chain || needed == 0) {
    *complete = true;
    if (needed == 0) return {};
    return {{set.first_cluster, static_cast<uint32_t>(needed)}};
  }
  return volume.fat().Chain(set.first_cluster, needed, complete);
}

// From `first` on, the free clusters in order, passing over those in use; `skipped` tells
// whether any was passed over. Clusters past the source's end are not looked at.
ClusterRuns FreeClustersFrom(ExfatVolume& volume, uint32_t first, uint64_t needed, bool* skipped) {
  ClusterRuns runs;
  ExfatBitmap& bitmap = volume.bitmap();
  const uint64_t last = volume.LastReadableCluster();
  uint64_t taken = 0;
  for (uint64_t cluster = first; taken < needed && cluster <= last;) {
    const uint64_t free = bitmap.Find(cluster, false);
    if (free > last) break;
    if (free != cluster) *skipped = true;
    const uint64_t used = std::min(bitmap.Find(free, true), last + 1);
    const uint64_t count = std::min(used - free, needed - taken);
    runs.push_back({static_cast<uint32_t>(free), static_cast<uint32_t>(count)});
    taken += count;
    cluster = used;
  }
  return runs;
}

void SetLengths(const ExfatEntrySet& set, uint64_t cluster_bytes, ExfatPlan* plan) {
  const uint64_t held = ClusterTotal(plan->clusters) * cluster_bytes;
  plan->stored_bytes = std::min(set.valid_length, held);
  // A file cut short by the end of what could be found ends there; zeros follow only whole
  // written bytes.
  plan->length = plan->stored_bytes < set.valid_length ? plan->stored_bytes : set.data_length;
}

}  // namespace

ExfatPlan PlanExfatFile(ExfatVolume& volume, const ExfatEntrySet& set, bool entry_deleted) {
  const ExfatGeometry& geometry = volume.geometry();
  ExfatPlan plan;
  if (set.data_length == 0) return plan;
  const uint64_t allocated = volume.ClustersFor(set.data_length);
  const uint64_t needed = volume.ClustersFor(set.valid_length);
  const bool fits = set.no_fat_chain
                        ? uint64_t{set.first_cluster} + allocated - 1 <= geometry.LastCluster()
                        : allocated <= geometry.cluster_count;
  if (!geometry.IsCluster(set.first_cluster) || !fits) {
    plan.valid = false;
    return plan;
  }
  ExfatBitmap& bitmap = volume.bitmap();
  const bool first_in_use = bitmap.InUse(set.first_cluster);
  if (first_in_use && entry_deleted) {
    plan.state = FileState::kOverwritten;
    return plan;
  }
  bool complete = false;
  plan.clusters = Allocation(volume, set, needed, &complete);
  if (first_in_use) {
    // A file never marked deleted whose clusters are still taken: its own allocation.
    if (!complete) plan.state = FileState::kPartlyOverwritten;
  } else if (set.no_fat_chain) {
    if (!AllFree(bitmap, plan.clusters)) plan.state = FileState::kPartlyOverwritten;
  } else if (!complete || !AllFree(bitmap, plan.clusters)) {
    bool skipped = false;
    plan.clusters = FreeClustersFrom(volume, set.first_cluster, needed, &skipped);
    if (skipped || ClusterTotal(plan.clusters) < needed) plan.state = FileState::kPartlyOverwritten;
  }
  SetLengths(set, geometry.BytesPerCluster(), &plan);
  return plan;
}

}  // namespace kestrel
