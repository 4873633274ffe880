#pragma once
// An exFAT volume opened for reading: its geometry, FAT, root folder and allocation bitmap,
// and the folders' entries read in order.

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "fs/exfat/exfat_bitmap.h"
#include "fs/exfat/exfat_boot.h"
#include "fs/exfat/exfat_clusters.h"
#include "fs/exfat/exfat_entry_set.h"
#include "fs/exfat/exfat_fat.h"
#include "platform/byte_source.h"

namespace kestrel {

// A folder holds at most 256 MiB of entries.
inline constexpr uint64_t kMaxExfatFolderBytes = 256u << 20;

class ExfatVolume {
 public:
  // Null when the root folder cannot be read (its chain loops, never ends or leaves the heap)
  // or holds no usable allocation bitmap (missing, shorter than the cluster count, or its
  // chain broken).
  static std::unique_ptr<ExfatVolume> Open(ByteSource& source, const ExfatGeometry& geometry,
                                           size_t bitmap_window = kExfatBitmapWindowBytes);

  const ExfatGeometry& geometry() const { return geometry_; }
  ByteSource& source() { return source_; }
  ExfatFat& fat() { return fat_; }
  ExfatBitmap& bitmap() { return *bitmap_; }
  const ClusterRuns& root() const { return root_; }
  const ClusterRuns& bitmap_clusters() const { return bitmap_clusters_; }
  // The highest cluster that starts inside the source (a cut image ends early); 1 when none.
  uint32_t LastReadableCluster() const;
  // Clusters needed for `bytes`.
  uint64_t ClustersFor(uint64_t bytes) const;

 private:
  ExfatVolume(ByteSource& source, const ExfatGeometry& geometry);
  bool FindBitmap(size_t bitmap_window);

  ByteSource& source_;
  const ExfatGeometry geometry_;
  ExfatFat fat_;
  ClusterRuns root_;
  ClusterRuns bitmap_clusters_;
  std::unique_ptr<ExfatBitmap> bitmap_;
};

// The entries of one folder in order, read in pieces from its clusters up to its length.
// Entries can be put back to be read again (a File entry whose set turned out broken leaves
// the entries after it to be looked at on their own).
class ExfatEntryReader {
 public:
  ExfatEntryReader(ExfatVolume& volume, ClusterRuns clusters, uint64_t bytes);

  // The next entry; false at the folder's end or at a piece that cannot be read.
  bool Next(ExfatRawEntry* entry);
  // Puts `entries` back in front, to be read next in their order.
  void PutBack(const ExfatRawEntry* entries, size_t count);

 private:
  bool LoadPiece();

  ExfatVolume& volume_;
  ClusterRuns clusters_;
  uint64_t remaining_;  // bytes of the folder not yet loaded
  size_t run_ = 0;
  uint64_t in_run_ = 0;  // bytes of the current run loaded
  std::vector<uint8_t> piece_;
  size_t piece_at_ = 0;
  std::deque<ExfatRawEntry> put_back_;
};

}  // namespace kestrel
