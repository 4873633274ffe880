#pragma once
// Where a deleted exFAT file's bytes lie, and how much of it is still there. A contiguous file
// (NoFatChain) lies in the clusters from its first one on. A fragmented file follows its FAT
// chain while the chain is still there: complete, without loops, and every cluster of it free
// in the allocation bitmap. Otherwise (a deleter that clears the chain, or clusters given to
// other files since) it is read as on FAT: from its first cluster on through the free
// clusters, passing over those in use. A file whose first cluster is in use again is
// overwritten.

#include <cstdint>

#include "fs/exfat/exfat_clusters.h"
#include "fs/exfat/exfat_entry_set.h"
#include "fs/exfat/exfat_volume.h"
#include "fs/file_system.h"

namespace kestrel {

struct ExfatPlan {
  bool valid = true;  // false: the set names no file the volume could hold
  FileState state = FileState::kIntact;
  ClusterRuns clusters;       // holding the bytes written (the valid length)
  uint64_t stored_bytes = 0;  // read from the clusters
  uint64_t length = 0;        // of the content: stored bytes, then zeros up to the data length
};

// `entry_deleted` is false for a set never marked deleted inside a deleted folder: while its
// first cluster is in use its allocation is followed as it stands.
ExfatPlan PlanExfatFile(ExfatVolume& volume, const ExfatEntrySet& set, bool entry_deleted);

}  // namespace kestrel
