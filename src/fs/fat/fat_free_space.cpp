#include "fs/fat/fat_free_space.h"

#include <algorithm>
#include <vector>

#include "platform/sector_size.h"

namespace kestrel {
namespace {

class FatFreeSpace : public FreeSpaceMap {
 public:
  FatFreeSpace(ByteSource& volume, const FatVolumeInfo& info)
      : fat_(volume, info), source_sectors_(SectorsOf(volume.Size())) {
    file_system_ = info.fat_type == FatType::kFat12   ? "FAT12"
                   : info.fat_type == FatType::kFat16 ? "FAT16"
                                                      : "FAT32";
    // Clusters that begin past the source's end (a truncated image) hold nothing to scan.
    last_cluster_ = fat_.LastReadableCluster();
    CountFreeSectors();
  }

  bool NextRun(uint64_t from, SectorRun* run) override {
    if (FromCachedRun(from, run)) return true;
    const FatVolumeInfo& v = fat_.info();
    uint64_t cluster =
        from < v.data_start_sector ? 2 : (from - v.data_start_sector) / v.sectors_per_cluster + 2;
    while (cluster <= last_cluster_ && !fat_.IsFree(static_cast<uint32_t>(cluster))) ++cluster;
    if (cluster > last_cluster_) return false;
    const uint64_t first = v.ClusterFirstSector(static_cast<uint32_t>(cluster));
    uint64_t end = first + v.sectors_per_cluster;
    for (++cluster; cluster <= last_cluster_ && fat_.IsFree(static_cast<uint32_t>(cluster));
         ++cluster) {
      end += v.sectors_per_cluster;
    }
    return Found(first, std::min(end, source_sectors_), from, run);
  }

 private:
  FatVolume fat_;
  uint64_t source_sectors_;
  uint64_t last_cluster_ = 0;
};

bool FatIsReadable(ByteSource& volume, const FatVolumeInfo& info) {
  std::vector<uint8_t> piece(64 * 1024);
  const uint64_t start = info.fat_start_sector * kSectorBytes;
  const uint64_t length = info.fat_size_sectors * kSectorBytes;
  for (uint64_t done = 0; done < length;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(piece.size(), length - done));
    if (!volume.ReadExact(start + done, piece.data(), n)) return false;
    done += n;
  }
  return true;
}

}  // namespace

FreeSpaceResult OpenFatFreeSpace(ByteSource& volume, const FatVolumeInfo& info,
                                 std::unique_ptr<FreeSpaceMap>* map) {
  if (!FatGeometryUsable(info)) return FreeSpaceResult::kNoFileSystem;
  if (!FatIsReadable(volume, info)) return FreeSpaceResult::kUnreadable;
  *map = std::make_unique<FatFreeSpace>(volume, info);
  return FreeSpaceResult::kOk;
}

}  // namespace kestrel
