#include "fs/unit_grid.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "fs/fat/fat_volume.h"
#include "platform/byte_order.h"
#include "platform/sector_size.h"

namespace kestrel {
namespace {

// Sectors per cluster of an NTFS boot sector; 0 when it is not one or its geometry is absurd.
uint64_t NtfsClusterSectors(const uint8_t* boot) {
  if (std::memcmp(boot + 3, "NTFS    ", 8) != 0) return 0;
  const uint64_t sector_bytes = LoadLe16(boot + 11);
  if (sector_bytes < 512 || sector_bytes > 4096 || (sector_bytes & (sector_bytes - 1)) != 0) {
    return 0;
  }
  const uint8_t per_cluster = boot[13];
  if (per_cluster == 0) return 0;
  // Values above 0x80 give the cluster size as a power of two (64 KiB clusters and up).
  const uint64_t cluster = per_cluster <= 0x80 ? sector_bytes * per_cluster
                                               : uint64_t{1} << std::min(256 - per_cluster, 31);
  return cluster / kSectorBytes;
}

// The cluster heap of an exFAT boot sector, in 512-byte sectors; none when it is not one.
std::optional<UnitGrid> ExfatUnits(const uint8_t* boot) {
  if (std::memcmp(boot + 3, "EXFAT   ", 8) != 0) return std::nullopt;
  const unsigned sector_shift = boot[108];
  const unsigned cluster_shift = boot[109];
  if (sector_shift < 9 || sector_shift > 12 || sector_shift + cluster_shift > 25) {
    return std::nullopt;
  }
  const uint64_t heap = uint64_t{LoadLe32(boot + 88)} << (sector_shift - 9);
  return UnitGrid{heap, uint64_t{1} << (sector_shift + cluster_shift - 9)};
}

}  // namespace

std::optional<UnitGrid> VolumeUnitGrid(ByteSource& source) {
  std::array<uint8_t, kSectorBytes> boot{};
  if (!source.ReadExact(0, boot.data(), boot.size())) return std::nullopt;
  if (const uint64_t sectors = NtfsClusterSectors(boot.data()); sectors != 0) {
    return UnitGrid{0, sectors};
  }
  if (std::optional<UnitGrid> exfat = ExfatUnits(boot.data())) return exfat;
  FatVolumeInfo info;
  if (ParseFatBootSector(boot.data(), &info) && FatGeometryUsable(info)) {
    const uint64_t sectors = info.BytesPerCluster() / kSectorBytes;
    if (sectors != 0) return UnitGrid{info.data_start_sector, sectors};
  }
  return std::nullopt;
}

}  // namespace kestrel
