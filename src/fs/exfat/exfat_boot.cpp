#include "fs/exfat/exfat_boot.h"

#include <cstring>
#include <vector>

#include "platform/byte_order.h"

namespace kestrel {
namespace {

constexpr uint32_t kChecksummedSectors = 11;  // sector 11 holds the checksum
constexpr uint32_t kRegionSectors = 12;
constexpr uint64_t kFirstFatSector = 24;  // after the main and the backup boot region
constexpr uint32_t kMaxClusterCount = 0xFFFFFFF5;
constexpr uint32_t kMaxClusterShift = 25;  // 32 MiB

bool HasName(const uint8_t* sector) {
  return std::memcmp(sector + 3, "EXFAT   ", 8) == 0;
}

// Whether sector 11 of a region repeats the checksum of the 11 sectors before it.
bool ChecksumAgrees(const std::vector<uint8_t>& region, uint64_t sector_bytes) {
  const uint32_t checksum = ExfatBootChecksum(region.data(), sector_bytes);
  const uint8_t* stored = region.data() + kChecksummedSectors * sector_bytes;
  for (uint64_t at = 0; at + 4 <= sector_bytes; at += 4) {
    if (LoadLe32(stored + at) != checksum) return false;
  }
  return true;
}

// The geometry of the region at `region_sector` (in sectors of its own size) when its boot
// sector is sane and its checksum agrees.
std::optional<ExfatGeometry> VerifiedRegion(ByteSource& volume, uint32_t sector_shift,
                                            uint64_t region_sector) {
  const uint64_t sector_bytes = uint64_t{1} << sector_shift;
  std::vector<uint8_t> region(kRegionSectors * sector_bytes);
  if (!volume.ReadExact(region_sector * sector_bytes, region.data(), region.size())) {
    return std::nullopt;
  }
  std::optional<ExfatGeometry> geometry = ParseExfatBootSector(region.data());
  if (!geometry || geometry->sector_shift != sector_shift) return std::nullopt;
  if (!ChecksumAgrees(region, sector_bytes)) return std::nullopt;
  return geometry;
}

}  // namespace

bool HasExfatName(const BootSector& boot) {
  return HasName(boot.data());
}

uint32_t ExfatBootChecksum(const uint8_t* region, uint64_t sector_bytes) {
  uint32_t checksum = 0;
  for (uint64_t i = 0; i < kChecksummedSectors * sector_bytes; ++i) {
    if (i == 106 || i == 107 || i == 112) continue;
    checksum = ((checksum & 1) != 0 ? 0x80000000u : 0) + (checksum >> 1) + region[i];
  }
  return checksum;
}

std::optional<ExfatGeometry> ParseExfatBootSector(const uint8_t* sector) {
  if (!HasName(sector) || sector[510] != 0x55 || sector[511] != 0xAA) return std::nullopt;
  const uint32_t sector_shift = sector[108];
  const uint32_t cluster_shift = sector_shift + sector[109];
  const uint8_t fat_count = sector[110];
  if (sector_shift < 9 || sector_shift > 12 || cluster_shift > kMaxClusterShift) {
    return std::nullopt;
  }
  if (fat_count != 1 && fat_count != 2) return std::nullopt;
  const uint64_t volume_sectors = LoadLe64(sector + 72);
  const uint64_t fat_sector = LoadLe32(sector + 80);
  const uint64_t fat_sectors = LoadLe32(sector + 84);
  const uint64_t heap_sector = LoadLe32(sector + 88);
  const uint32_t cluster_count = LoadLe32(sector + 92);
  const uint32_t root_cluster = LoadLe32(sector + 96);
  // Volume lengths beyond 2^52 sectors would overflow the byte offsets; no device is that big.
  if (volume_sectors >> 52 != 0 || cluster_count == 0 || cluster_count > kMaxClusterCount) {
    return std::nullopt;
  }
  const uint64_t sector_bytes = uint64_t{1} << sector_shift;
  if (fat_sector < kFirstFatSector ||
      fat_sectors * sector_bytes < (uint64_t{cluster_count} + 2) * 4 ||
      heap_sector < fat_sector + fat_count * fat_sectors) {
    return std::nullopt;
  }
  const uint64_t heap_end =
      (heap_sector << sector_shift) + (uint64_t{cluster_count} << cluster_shift);
  if (heap_end > volume_sectors << sector_shift) return std::nullopt;
  ExfatGeometry geometry;
  geometry.sector_shift = sector_shift;
  geometry.cluster_shift = cluster_shift;
  geometry.volume_bytes = volume_sectors << sector_shift;
  geometry.fat_bytes = fat_sectors << sector_shift;
  geometry.fat_count = fat_count;
  // With two FATs (transaction-safe exFAT) bit 0 of the volume flags names the one in use.
  geometry.active_fat = fat_count == 2 ? (sector[106] & 1) : 0;
  geometry.fat_offset = (fat_sector << sector_shift) + geometry.active_fat * geometry.fat_bytes;
  geometry.heap_offset = heap_sector << sector_shift;
  geometry.cluster_count = cluster_count;
  geometry.root_cluster = root_cluster;
  if (!geometry.IsCluster(root_cluster)) return std::nullopt;
  return geometry;
}

std::optional<ExfatGeometry> ReadExfatGeometry(ByteSource& volume, const BootSector& boot) {
  if (!HasExfatName(boot)) return std::nullopt;
  const std::optional<ExfatGeometry> main = ParseExfatBootSector(boot.data());
  if (main) {
    if (VerifiedRegion(volume, main->sector_shift, 0)) return main;
    if (std::optional<ExfatGeometry> backup =
            VerifiedRegion(volume, main->sector_shift, kRegionSectors)) {
      backup->boot_source = ExfatBootSource::kBackup;
      return backup;
    }
    ExfatGeometry unverified = *main;
    unverified.boot_source = ExfatBootSource::kMainUnverified;
    return unverified;
  }
  // A damaged main boot sector gives no sector size: the backup is looked for at each.
  for (uint32_t shift = 9; shift <= 12; ++shift) {
    if (std::optional<ExfatGeometry> backup = VerifiedRegion(volume, shift, kRegionSectors)) {
      backup->boot_source = ExfatBootSource::kBackup;
      return backup;
    }
  }
  return std::nullopt;
}

}  // namespace kestrel
