#include "fs/exfat/exfat_clusters.h"

#include <algorithm>
#include <iterator>

namespace kestrel {

void AppendCluster(ClusterRuns* runs, uint32_t cluster) {
  if (!runs->empty() && runs->back().end() == cluster) {
    ++runs->back().count;
  } else {
    runs->push_back({cluster, 1});
  }
}

uint64_t ClusterTotal(const ClusterRuns& runs) {
  uint64_t total = 0;
  for (const ClusterRun& run : runs) total += run.count;
  return total;
}

bool ClusterSet::Contains(uint32_t cluster) const {
  auto next = intervals_.upper_bound(cluster);
  if (next == intervals_.begin()) return false;
  --next;
  return cluster < next->second;
}

void ClusterSet::Add(uint32_t cluster) {
  if (Contains(cluster)) return;
  auto next = intervals_.upper_bound(cluster);
  if (next != intervals_.begin()) {
    auto previous = std::prev(next);
    if (previous->second == cluster) {
      previous->second = uint64_t{cluster} + 1;
      if (next != intervals_.end() && next->first == previous->second) {
        previous->second = next->second;
        intervals_.erase(next);
      }
      return;
    }
  }
  uint64_t end = uint64_t{cluster} + 1;
  if (next != intervals_.end() && next->first == end) {
    end = next->second;
    intervals_.erase(next);
  }
  intervals_.emplace(cluster, end);
}

uint64_t ClusterSet::FirstIn(uint64_t first, uint64_t end) const {
  if (first >= end) return end;
  if (Contains(static_cast<uint32_t>(first))) return first;
  auto next = intervals_.upper_bound(static_cast<uint32_t>(first));
  return next == intervals_.end() ? end : std::min<uint64_t>(next->first, end);
}

void ClusterSet::AddRun(const ClusterRun& run) {
  if (run.count == 0) return;
  uint64_t first = run.first;
  uint64_t end = run.end();
  auto next = intervals_.lower_bound(run.first);
  if (next != intervals_.begin() && std::prev(next)->second == first) {
    --next;
    first = next->first;
    next = intervals_.erase(next);
  }
  if (next != intervals_.end() && next->first == end) {
    end = next->second;
    intervals_.erase(next);
  }
  intervals_.emplace(static_cast<uint32_t>(first), end);
}

ClusterRuns FirstClusters(const ClusterRuns& runs, uint64_t clusters) {
  ClusterRuns out;
  for (const ClusterRun& run : runs) {
    if (clusters == 0) break;
    const auto take = static_cast<uint32_t>(std::min<uint64_t>(run.count, clusters));
    out.push_back({run.first, take});
    clusters -= take;
  }
  return out;
}

}  // namespace kestrel
