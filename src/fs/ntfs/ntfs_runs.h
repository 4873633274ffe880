#pragma once
// NTFS run lists (mapping pairs): where the clusters of a non-resident attribute lie.

#include <cstdint>
#include <span>
#include <vector>

namespace kestrel {

struct DataRun {
  uint64_t first_vcn = 0;      // position of the run inside the attribute, in clusters
  uint64_t cluster_count = 0;  // at least 1
  uint64_t lcn = 0;            // first cluster on the volume (not used when sparse)
  bool sparse = false;         // a hole: reads as zeros, has no clusters
};

// Decodes a run list. Each run is a header byte (low nibble: size of the length field, high
// nibble: size of the offset field), the cluster count, and the signed distance from the
// previous run's first cluster; an offset field of size 0 marks a sparse run and a header of 0
// ends the list (so does the end of `bytes`). Runs are numbered on from `first_vcn`.
//
// Fails (false) on a field that runs past `bytes`, a field wider than 8 bytes, a run of 0
// clusters, a run that starts before cluster 0 or ends past `volume_clusters`, or when the runs
// together hold more than `max_clusters` clusters. On success `runs` holds every run.
bool DecodeRunList(std::span<const uint8_t> bytes, uint64_t first_vcn, uint64_t volume_clusters,
                   uint64_t max_clusters, std::vector<DataRun>* runs);

// Clusters held by the runs together.
uint64_t TotalClusters(const std::vector<DataRun>& runs);

}  // namespace kestrel
