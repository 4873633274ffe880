#pragma once
// A FAT12/16/32 volume as the deleted-files mode reads it: the geometry taken from the boot
// sector, the FAT's cluster chains, and cluster and root-region reads. Sector numbers are
// volume-relative, in 512-byte units, 64-bit.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/byte_source.h"

namespace kestrel {

enum class FatType : uint8_t { kFat12 = 1, kFat16 = 2, kFat32 = 3 };

// Cluster counts below these are FAT12, then FAT16; the rest FAT32.
inline constexpr uint32_t kFat12ClusterLimit = 4085;
inline constexpr uint32_t kFat16ClusterLimit = 65525;

struct FatVolumeInfo {
  FatType fat_type = FatType::kFat12;
  uint8_t sectors_per_cluster = 0;
  uint8_t fat_count = 0;
  uint16_t root_entry_count = 0;
  uint32_t hidden_sectors = 0;  // sectors before the partition (informational)
  uint64_t total_sectors = 0;
  uint64_t fat_start_sector = 0;  // reserved sector count
  uint64_t fat_size_sectors = 0;
  uint64_t root_dir_start_sector = 0;  // FAT12/16: the fixed root region
  uint64_t root_dir_sectors = 0;       // FAT12/16
  uint32_t root_cluster = 0;           // FAT32: first cluster of the root directory
  uint64_t data_start_sector = 0;
  uint32_t cluster_count = 0;  // data clusters, numbered 2 .. cluster_count + 1

  uint32_t BytesPerCluster() const { return uint32_t{sectors_per_cluster} * 512; }
  uint32_t LastCluster() const { return cluster_count + 1; }
  bool IsDataCluster(uint32_t cluster) const { return cluster >= 2 && cluster <= LastCluster(); }
  uint64_t ClusterFirstSector(uint32_t cluster) const {
    return data_start_sector + uint64_t{sectors_per_cluster} * (uint64_t{cluster} - 2);
  }
};

// Fills `info` from a 512-byte boot sector. False when it is not a usable FAT boot sector: no
// 0x55 0xAA signature, bytes per sector other than 512, 0 sectors per cluster, or FATs and root
// region larger than the volume.
bool ParseFatBootSector(const uint8_t* sector, FatVolumeInfo* info);

// Reads sector 0 of `source` and parses it.
bool IdentifyFatVolume(ByteSource& source, FatVolumeInfo* info);

// Whether the geometry can be walked at all: at least one FAT with sectors, at least one data
// cluster, and on FAT32 a root cluster inside the data region.
bool FatGeometryUsable(const FatVolumeInfo& info);

// Reads through the FAT and the data region of one volume.
class FatVolume {
 public:
  FatVolume(ByteSource& source, const FatVolumeInfo& info);

  const FatVolumeInfo& info() const { return info_; }
  ByteSource& source() { return source_; }

  // The cluster that follows `cluster` in its chain, or 0 when the chain ends there: an
  // end-of-chain mark (any value from 0xFF8 / 0xFFF8 / 0x0FFFFFF8 up), a free, reserved or bad
  // entry, a value outside the data region, or an unreadable FAT sector.
  uint32_t NextCluster(uint32_t cluster);

  // Whether the FAT marks the data cluster `cluster` free (entry 0). False for a cluster outside
  // the data region or an unreadable FAT sector.
  bool IsFree(uint32_t cluster);

  // The chain from `first` (included), at most `max_clusters` long. Stops before a cluster it
  // has met already, so a looping chain ends.
  std::vector<uint32_t> Chain(uint32_t first, size_t max_clusters);

  // Reads one whole cluster (BytesPerCluster bytes). False for a cluster outside the data
  // region or a failed read.
  bool ReadCluster(uint32_t cluster, uint8_t* buffer);
  // Reads the first 512-byte sector of a cluster.
  bool ReadClusterFirstSector(uint32_t cluster, uint8_t* buffer);

  // The highest cluster whose first sector lies inside the source (a truncated image ends
  // early); at most LastCluster().
  uint32_t LastReadableCluster() const;

 private:
  static constexpr uint64_t kFatWindowSectors = 64;

  // The bytes of FAT sector `sector` (inside the FAT), or null when it cannot be read.
  const uint8_t* FatSector(uint64_t sector);
  uint32_t ReadFatEntry(uint32_t cluster, bool* ok);

  ByteSource& source_;
  FatVolumeInfo info_;
  std::vector<uint8_t> fat_window_;
  uint64_t window_first_ = 0;    // first FAT sector in the window
  uint64_t window_sectors_ = 0;  // sectors the window holds (0: none)
};

}  // namespace kestrel
