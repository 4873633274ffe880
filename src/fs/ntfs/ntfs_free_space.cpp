#include "fs/ntfs/ntfs_free_space.h"

#include <algorithm>

#include "platform/sector_size.h"

namespace kestrel {
namespace {

constexpr uint64_t kBitmapRecord = 6;
constexpr size_t kWindowBytes = 128 * 1024;

class NtfsFreeSpace : public FreeSpaceMap {
 public:
  NtfsFreeSpace(ByteSource& volume, uint32_t bytes_per_cluster, std::unique_ptr<NtfsBitmap> bitmap)
      : bytes_per_cluster_(bytes_per_cluster),
        source_sectors_(SectorsOf(volume.Size())),
        bitmap_(std::move(bitmap)) {
    file_system_ = "NTFS";
    CountFreeSectors();
  }

  bool failed() const { return bitmap_->failed(); }

  bool NextRun(uint64_t from, SectorRun* run) override {
    if (FromCachedRun(from, run)) return true;
    const uint64_t cluster = from * kSectorBytes / bytes_per_cluster_;
    const uint64_t first_free = bitmap_->FindCluster(cluster, false);
    if (first_free >= bitmap_->clusters()) return false;
    const uint64_t end_cluster = bitmap_->FindCluster(first_free + 1, true);
    const uint64_t first = first_free * bytes_per_cluster_ / kSectorBytes;
    const uint64_t end = std::min(SectorsOf(end_cluster * bytes_per_cluster_), source_sectors_);
    return Found(first, end, from, run);
  }

 private:
  uint64_t bytes_per_cluster_;
  uint64_t source_sectors_;
  std::unique_ptr<NtfsBitmap> bitmap_;
};

}  // namespace

std::unique_ptr<NtfsBitmap> OpenNtfsBitmap(NtfsDrive& drive, size_t window_bytes) {
  std::optional<NtfsDataReader> data;
  if (drive.ReadSystemFileData(kBitmapRecord, &data) != 0) return nullptr;
  // Clusters past the source's end hold nothing to read.
  const uint64_t clusters =
      std::min(drive.volume_clusters(), drive.volume().Size() / drive.bytes_per_cluster());
  return std::make_unique<NtfsBitmap>(*data, clusters, window_bytes);
}

FreeSpaceResult OpenNtfsFreeSpace(ByteSource& volume, std::unique_ptr<FreeSpaceMap>* map) {
  NtfsDrive drive(volume);
  std::unique_ptr<NtfsBitmap> bitmap = OpenNtfsBitmap(drive, kWindowBytes);
  if (!bitmap) return FreeSpaceResult::kUnreadable;
  auto ntfs = std::make_unique<NtfsFreeSpace>(volume, drive.bytes_per_cluster(), std::move(bitmap));
  if (ntfs->failed()) return FreeSpaceResult::kUnreadable;
  *map = std::move(ntfs);
  return FreeSpaceResult::kOk;
}

}  // namespace kestrel
