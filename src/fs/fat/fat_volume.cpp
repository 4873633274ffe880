#include "fs/fat/fat_volume.h"

#include <algorithm>
#include <array>
#include <unordered_set>

#include "platform/byte_order.h"
#include "sources/scan_source.h"

namespace kestrel {
namespace {

FatType TypeForClusterCount(uint64_t clusters) {
  if (clusters < kFat12ClusterLimit) return FatType::kFat12;
  if (clusters < kFat16ClusterLimit) return FatType::kFat16;
  return FatType::kFat32;
}

}  // namespace

bool ParseFatBootSector(const uint8_t* sector, FatVolumeInfo* info) {
  if (sector[510] != 0x55 || sector[511] != 0xAA) return false;
  if (LoadLe16(sector + 11) != 512) return false;
  const uint8_t sectors_per_cluster = sector[13];
  if (sectors_per_cluster == 0) return false;

  FatVolumeInfo v;
  v.sectors_per_cluster = sectors_per_cluster;
  v.fat_start_sector = LoadLe16(sector + 14);
  v.fat_count = sector[16];
  v.root_entry_count = LoadLe16(sector + 17);
  const uint16_t total16 = LoadLe16(sector + 19);
  const uint16_t fat_size16 = LoadLe16(sector + 22);
  v.hidden_sectors = LoadLe32(sector + 28);
  v.total_sectors = total16 != 0 ? total16 : LoadLe32(sector + 32);
  v.fat_size_sectors = fat_size16 != 0 ? fat_size16 : LoadLe32(sector + 36);
  v.root_dir_sectors = (uint64_t{v.root_entry_count} * 32 + 511) / 512;

  const uint64_t fats_end = v.fat_start_sector + uint64_t{v.fat_count} * v.fat_size_sectors;
  const uint64_t metadata = fats_end + v.root_dir_sectors;
  // FATs and root region that do not fit the volume give no data region at all (the count
  // would wrap around and claim billions of clusters).
  if (metadata > v.total_sectors) return false;
  const uint64_t clusters = (v.total_sectors - metadata) / sectors_per_cluster;
  v.cluster_count = static_cast<uint32_t>(std::min<uint64_t>(clusters, 0x0FFFFFF5));
  v.fat_type = TypeForClusterCount(clusters);

  if (v.fat_type == FatType::kFat32) {
    v.root_cluster = LoadLe32(sector + 44) & 0x0FFFFFFF;
    v.data_start_sector = fats_end;
  } else {
    v.root_dir_start_sector = fats_end;
    v.data_start_sector = fats_end + v.root_dir_sectors;
  }
  *info = v;
  return true;
}

bool IdentifyFatVolume(ByteSource& source, FatVolumeInfo* info) {
  std::array<uint8_t, kSectorBytes> sector{};
  if (!source.ReadExact(0, sector.data(), sector.size())) return false;
  return ParseFatBootSector(sector.data(), info);
}

bool FatGeometryUsable(const FatVolumeInfo& info) {
  if (info.fat_count == 0 || info.fat_size_sectors == 0 || info.cluster_count == 0) return false;
  if (info.fat_type == FatType::kFat32 && !info.IsDataCluster(info.root_cluster)) return false;
  return true;
}

FatVolume::FatVolume(ByteSource& source, const FatVolumeInfo& info)
    : source_(source), info_(info), fat_window_(kFatWindowSectors * kSectorBytes) {}

// The FAT is read a window of sectors at a time: walks over it (chains, free clusters) mostly
// go forward. When the window does not read, the one sector is read on its own.
const uint8_t* FatVolume::FatSector(uint64_t sector) {
  if (sector >= window_first_ && sector - window_first_ < window_sectors_) {
    return fat_window_.data() + (sector - window_first_) * kSectorBytes;
  }
  window_sectors_ = 0;
  const uint64_t fat_end = info_.fat_start_sector + info_.fat_size_sectors;
  const uint64_t count = std::min<uint64_t>(kFatWindowSectors, fat_end - sector);
  if (source_.ReadExact(sector * kSectorBytes, fat_window_.data(), count * kSectorBytes)) {
    window_sectors_ = count;
  } else if (source_.ReadExact(sector * kSectorBytes, fat_window_.data(), kSectorBytes)) {
    window_sectors_ = 1;
  } else {
    return nullptr;
  }
  window_first_ = sector;
  return fat_window_.data();
}

uint32_t FatVolume::ReadFatEntry(uint32_t cluster, bool* ok) {
  *ok = false;
  const uint64_t fat_bytes = info_.fat_start_sector * kSectorBytes;
  const uint64_t entry_end = info_.fat_type == FatType::kFat12   ? uint64_t{cluster} * 3 / 2 + 2
                             : info_.fat_type == FatType::kFat16 ? uint64_t{cluster} * 2 + 2
                                                                 : uint64_t{cluster} * 4 + 4;
  // An entry beyond the FAT's own sectors is not part of it (a boot sector that understates the
  // FAT size); the chain ends there.
  if (entry_end > info_.fat_size_sectors * kSectorBytes) return 0;
  switch (info_.fat_type) {
    case FatType::kFat12: {
      // 12-bit entries may straddle two sectors; read the two bytes directly.
      uint8_t pair[2];
      if (!source_.ReadExact(fat_bytes + uint64_t{cluster} * 3 / 2, pair, 2)) return 0;
      uint16_t value = LoadLe16(pair);
      *ok = true;
      return (cluster & 1) != 0 ? value >> 4 : value & 0x0FFFu;
    }
    case FatType::kFat16: {
      const uint8_t* sector = FatSector(info_.fat_start_sector + cluster / 256);
      if (sector == nullptr) return 0;
      *ok = true;
      return LoadLe16(sector + (cluster % 256) * 2);
    }
    case FatType::kFat32: {
      const uint8_t* sector = FatSector(info_.fat_start_sector + cluster / 128);
      if (sector == nullptr) return 0;
      *ok = true;
      return LoadLe32(sector + (cluster % 128) * 4) & 0x0FFFFFFF;
    }
  }
  return 0;
}

uint32_t FatVolume::NextCluster(uint32_t cluster) {
  if (!info_.IsDataCluster(cluster)) return 0;
  bool ok = false;
  const uint32_t value = ReadFatEntry(cluster, &ok);
  // Values past the data region include the bad-cluster mark and every end-of-chain mark.
  if (!ok || !info_.IsDataCluster(value)) return 0;
  return value;
}

bool FatVolume::IsFree(uint32_t cluster) {
  if (!info_.IsDataCluster(cluster)) return false;
  bool ok = false;
  const uint32_t value = ReadFatEntry(cluster, &ok);
  return ok && value == 0;
}

std::vector<uint32_t> FatVolume::Chain(uint32_t first, size_t max_clusters) {
  std::vector<uint32_t> chain;
  std::unordered_set<uint32_t> seen;
  for (uint32_t cluster = first; info_.IsDataCluster(cluster) && chain.size() < max_clusters;
       cluster = NextCluster(cluster)) {
    if (!seen.insert(cluster).second) break;
    chain.push_back(cluster);
  }
  return chain;
}

bool FatVolume::ReadCluster(uint32_t cluster, uint8_t* buffer) {
  if (!info_.IsDataCluster(cluster)) return false;
  return source_.ReadExact(info_.ClusterFirstSector(cluster) * kSectorBytes, buffer,
                           info_.BytesPerCluster());
}

bool FatVolume::ReadClusterFirstSector(uint32_t cluster, uint8_t* buffer) {
  if (!info_.IsDataCluster(cluster)) return false;
  return source_.ReadExact(info_.ClusterFirstSector(cluster) * kSectorBytes, buffer, kSectorBytes);
}

uint32_t FatVolume::LastReadableCluster() const {
  const uint64_t sectors = source_.Size() / kSectorBytes;
  if (sectors <= info_.data_start_sector) return 0;
  const uint64_t clusters = (sectors - info_.data_start_sector - 1) / info_.sectors_per_cluster + 1;
  return static_cast<uint32_t>(std::min<uint64_t>(clusters + 1, info_.LastCluster()));
}

}  // namespace kestrel
