#include "fs/exfat/exfat_free_space.h"

#include <algorithm>

#include "platform/sector_size.h"

namespace kestrel {
namespace {

class ExfatFreeSpace : public FreeSpaceMap {
 public:
  explicit ExfatFreeSpace(std::unique_ptr<ExfatVolume> volume)
      : owned_(std::move(volume)),
        volume_(*owned_),
        source_sectors_(SectorsOf(volume_.source().Size())),
        last_cluster_(volume_.LastReadableCluster()) {
    file_system_ = "exFAT";
    CountFreeSectors();
  }

  bool NextRun(uint64_t from, SectorRun* run) override {
    if (FromCachedRun(from, run)) return true;
    const ExfatGeometry& g = volume_.geometry();
    const uint64_t byte = from * kSectorBytes;
    const uint64_t cluster =
        byte < g.heap_offset ? 2 : ((byte - g.heap_offset) >> g.cluster_shift) + 2;
    if (cluster > last_cluster_) return false;
    ExfatBitmap& bitmap = volume_.bitmap();
    const uint64_t free = bitmap.Find(cluster, false);
    if (free > last_cluster_) return false;
    const uint64_t used = std::min(bitmap.Find(free, true), last_cluster_ + 1);
    const uint64_t first = SectorOf(free);
    return Found(first, std::min(SectorOf(used), source_sectors_), from, run);
  }

 private:
  // The first 512-byte sector of a cluster (sizes and offsets are multiples of 512).
  uint64_t SectorOf(uint64_t cluster) const {
    const ExfatGeometry& g = volume_.geometry();
    return (g.heap_offset + ((cluster - 2) << g.cluster_shift)) / kSectorBytes;
  }

  std::unique_ptr<ExfatVolume> owned_;
  ExfatVolume& volume_;
  uint64_t source_sectors_;
  uint64_t last_cluster_;
};

}  // namespace

FreeSpaceResult OpenExfatFreeSpace(ByteSource& source, const ExfatGeometry& geometry,
                                   std::unique_ptr<FreeSpaceMap>* map) {
  std::unique_ptr<ExfatVolume> volume = ExfatVolume::Open(source, geometry);
  if (!volume || !volume->bitmap().ReadsWhole()) return FreeSpaceResult::kUnreadable;
  *map = std::make_unique<ExfatFreeSpace>(std::move(volume));
  return FreeSpaceResult::kOk;
}

}  // namespace kestrel
