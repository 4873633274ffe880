#pragma once
// Runs of consecutive clusters: where a file, a folder or the allocation bitmap lies in the
// cluster heap.

#include <cstdint>
#include <map>
#include <vector>

namespace kestrel {

// Clusters [first, first + count).
struct ClusterRun {
  uint32_t first = 0;
  uint32_t count = 0;
  uint64_t end() const { return uint64_t{first} + count; }
};

using ClusterRuns = std::vector<ClusterRun>;

// Appends `cluster`, joining it to the last run when it follows it.
void AppendCluster(ClusterRuns* runs, uint32_t cluster);

uint64_t ClusterTotal(const ClusterRuns& runs);

// A set of clusters kept as intervals, so that a long contiguous chain costs one entry.
class ClusterSet {
 public:
  bool Contains(uint32_t cluster) const;
  void Add(uint32_t cluster);
  // The first cluster of [first, end) in the set; `end` when there is none.
  uint64_t FirstIn(uint64_t first, uint64_t end) const;
  // Adds the clusters of `run` (none of them in the set yet).
  void AddRun(const ClusterRun& run);

 private:
  std::map<uint32_t, uint64_t> intervals_;  // first cluster -> end
};

// The first `clusters` clusters of `runs`.
ClusterRuns FirstClusters(const ClusterRuns& runs, uint64_t clusters);

}  // namespace kestrel
