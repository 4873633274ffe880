#pragma once
// The FAT half of the deleted-files mode: the directory clusters to search below the selected
// folder (its own clusters and the deleted folders found by a discovery scan), the deleted
// entries in them, and the copy of each entry to the run folder.

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "disk/deleted_run.h"
#include "disk/fat_volume.h"
#include "run/run_context.h"

namespace kestrel {

// One file found by the search, in the order found.
struct DeletedEntry {
  uint32_t ordinal = 0;
  std::string name;       // long name without its extension, or the short name ('_' for 0xE5)
  std::string extension;  // long-name extension, or the short extension
  uint8_t attributes = 0;
  uint16_t cluster_high = 0;
  uint16_t cluster_low = 0;
  uint32_t size_bytes = 0;
};

// The directory clusters to search: first the selected folder's own clusters, then the
// discovered ones in the order met.
class DirectoryClusterList {
 public:
  void Add(uint32_t cluster);
  bool Contains(uint32_t cluster) const { return members_.count(cluster) != 0; }
  const std::vector<uint32_t>& clusters() const { return clusters_; }
  size_t own_count = 0;

 private:
  std::vector<uint32_t> clusters_;
  std::unordered_set<uint32_t> members_;
};

// Where the search starts. `start_cluster` is 0 for the FAT16 root (its fixed region) and the
// root cluster for the FAT32 root.
struct SearchStart {
  uint32_t start_cluster = 0;
  bool root_selected = false;
  uint32_t recycled_cluster = 0;
};

enum class SearchEnd { kDone, kCancelled, kOutOfMemory };

// The selected folder's own clusters, at most as many as the largest FAT directory needs.
void CollectOwnClusters(FatVolume& volume, const SearchStart& start, DirectoryClusterList* list);

// The highest cluster the discovery scan visits: the largest first cluster of the folders named
// in the selected folder, then down the last subfolder of each level; never past the readable
// data region.
uint32_t DiscoveryBound(FatVolume& volume, const SearchStart& start,
                        const DirectoryClusterList& own);

// Whether a discovered cluster, given its first sector, is a folder to search: it must look like
// a directory (dot entries) and lie below the selected folder, the root (when it is selected),
// the Recycled folder, or a folder already taken.
class DiscoveryRules {
 public:
  DiscoveryRules(const FatVolumeInfo& info, const SearchStart& start)
      : info_(info), start_(start) {}
  bool Take(const uint8_t* first_sector, const DirectoryClusterList& list);

 private:
  const FatVolumeInfo& info_;
  SearchStart start_;
  bool start_child_taken_ = false;
};

// Own clusters, then the discovery scan with its progress and cancel polls. False when cancelled.
bool CollectDirectoryClusters(FatVolume& volume, RunContext& run, const SearchStart& start,
                              DirectoryClusterList* list);

// Builds the list of entries to copy. Shows "Memory allocation error" when memory runs out.
SearchEnd SearchDeletedEntries(FatVolume& volume, RunContext& run, const SearchStart& start,
                               std::vector<DeletedEntry>* entries);

enum class CopyEnd { kCompleted, kCancelled, kReadFailed, kDiskFull, kWriteFailed, kOutOfMemory };

// Writes one file per wanted entry, from the last found to the first, each as one contiguous run
// of sectors from its first cluster, streamed through a 32 KiB buffer. A failed read (57519), a
// full disk (57441), a failed write (127) or no memory for the buffer (1192) stops the copy.
CopyEnd CopyDeletedEntries(DeletedRun& run, FatVolume& volume,
                           const std::vector<DeletedEntry>& entries);

}  // namespace kestrel
