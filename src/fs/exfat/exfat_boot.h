#pragma once
// The boot region of an exFAT volume and the geometry it gives: sector and cluster sizes, where
// the FAT and the cluster heap lie, the cluster count and the root directory's first cluster.
// Every position is a 64-bit byte offset inside the volume, so volumes with sectors of 512 to
// 4096 bytes and clusters of up to 32 MiB are read the same way.

#include <cstdint>
#include <optional>

#include "fs/probe.h"
#include "platform/byte_source.h"

namespace kestrel {

// Which boot region the geometry came from.
enum class ExfatBootSource {
  kMain,            // the main boot region, its checksum right
  kBackup,          // the backup boot region (sector 12 on), the main one's checksum wrong
  kMainUnverified,  // the main boot region, neither checksum right but its geometry sane
};

struct ExfatGeometry {
  uint32_t sector_shift = 9;   // bytes per sector = 1 << sector_shift (9..12)
  uint32_t cluster_shift = 9;  // bytes per cluster = 1 << cluster_shift (up to 25)
  uint64_t volume_bytes = 0;
  uint64_t fat_offset = 0;  // the FAT in use (the second one when the volume flags say so)
  uint64_t fat_bytes = 0;
  uint64_t heap_offset = 0;  // cluster 2 starts here
  uint32_t cluster_count = 0;
  uint32_t root_cluster = 0;
  uint8_t fat_count = 1;
  uint8_t active_fat = 0;
  ExfatBootSource boot_source = ExfatBootSource::kMain;

  uint64_t BytesPerCluster() const { return uint64_t{1} << cluster_shift; }
  // Clusters are numbered 2 .. LastCluster().
  uint32_t LastCluster() const { return cluster_count + 1; }
  bool IsCluster(uint64_t cluster) const { return cluster >= 2 && cluster <= LastCluster(); }
  uint64_t ClusterOffset(uint32_t cluster) const {
    return heap_offset + (uint64_t{cluster - 2} << cluster_shift);
  }
};

// Whether the boot sector's file-system name is "EXFAT   ".
bool HasExfatName(const BootSector& boot);

// The checksum of a boot region's first 11 sectors (`sector_bytes` each), leaving out the
// volume flags (bytes 106-107) and the percent in use (byte 112), which change while the
// volume is used.
uint32_t ExfatBootChecksum(const uint8_t* region, uint64_t sector_bytes);

// The geometry of one boot sector when it is sane: the signature, sizes in range, the FAT and
// the cluster heap in order and inside the volume, the root cluster a cluster of the heap.
std::optional<ExfatGeometry> ParseExfatBootSector(const uint8_t* sector);

// The volume's geometry: from the main boot region when its checksum sector agrees, else from
// the backup region when its checksum agrees, else from the main boot sector alone when its
// geometry is sane. Nothing when no boot sector gives a sane geometry.
std::optional<ExfatGeometry> ReadExfatGeometry(ByteSource& volume, const BootSector& boot);

}  // namespace kestrel
