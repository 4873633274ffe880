#include "fs/free_space.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <vector>

#include "fs/fat/fat_volume.h"
#include "fs/ntfs/ntfs_data_reader.h"
#include "fs/ntfs/ntfs_volume.h"
#include "platform/sector_size.h"

namespace kestrel {
namespace {

uint64_t SectorsOf(uint64_t bytes) {
  return (bytes + kSectorBytes - 1) / kSectorBytes;
}

// The run that holds `from` when `cached` is one.
bool FromCachedRun(const SectorRun& cached, uint64_t from, SectorRun* run) {
  if (cached.count == 0 || from < cached.first || from >= cached.end()) return false;
  *run = {from, cached.end() - from};
  return true;
}

// FAT: a data cluster is free when its FAT entry is 0.
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
    if (FromCachedRun(cached_, from, run)) return true;
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
    end = std::min(end, source_sectors_);
    cached_ = {first, end - first};
    const uint64_t start = std::max(from, first);
    *run = {start, end - start};
    return true;
  }

 private:
  FatVolume fat_;
  uint64_t source_sectors_;
  uint64_t last_cluster_ = 0;
  SectorRun cached_;
};

// NTFS: a cluster is free when its bit in $Bitmap is 0. Clusters past the bitmap's end are not
// described as used, so they are scanned.
class NtfsFreeSpace : public FreeSpaceMap {
 public:
  NtfsFreeSpace(ByteSource& volume, uint32_t bytes_per_cluster, uint64_t clusters,
                const NtfsDataReader& bitmap)
      : bytes_per_cluster_(bytes_per_cluster),
        clusters_(std::min(clusters, volume.Size() / bytes_per_cluster)),
        source_sectors_(SectorsOf(volume.Size())),
        start_(bitmap),
        window_(kWindowBytes) {
    file_system_ = "NTFS";
    CountFreeSectors();
  }

  bool failed() const { return failed_; }

  bool NextRun(uint64_t from, SectorRun* run) override {
    if (FromCachedRun(cached_, from, run)) return true;
    const uint64_t cluster = from * kSectorBytes / bytes_per_cluster_;
    const uint64_t first_free = FindCluster(cluster, false);
    if (first_free >= clusters_) return false;
    const uint64_t end_cluster = FindCluster(first_free + 1, true);
    const uint64_t first = first_free * bytes_per_cluster_ / kSectorBytes;
    const uint64_t end = std::min(SectorsOf(end_cluster * bytes_per_cluster_), source_sectors_);
    if (end <= std::max(from, first)) return false;
    cached_ = {first, end - first};
    const uint64_t start = std::max(from, first);
    *run = {start, end - start};
    return true;
  }

 private:
  static constexpr size_t kWindowBytes = 128 * 1024;

  // The first cluster from `cluster` on whose bit is `in_use`; clusters_ when there is none.
  uint64_t FindCluster(uint64_t cluster, bool in_use) {
    const uint8_t skip = in_use ? 0x00 : 0xFF;  // bytes that hold no such bit
    while (cluster < clusters_) {
      const uint64_t byte = cluster / 8;
      if (!Load(byte)) return in_use ? clusters_ : cluster;  // not described: free
      const uint8_t value = window_[byte - window_start_];
      if (cluster % 8 == 0 && value == skip) {
        cluster += 8;
        continue;
      }
      if (((value >> (cluster % 8)) & 1) == (in_use ? 1 : 0)) return cluster;
      ++cluster;
    }
    return clusters_;
  }

  // Makes the bitmap byte `byte` part of the window. False when the bitmap does not hold it (it
  // ends before, or can no longer be read: the rest then counts as free).
  bool Load(uint64_t byte) {
    if (byte >= window_start_ && byte < window_start_ + window_length_) return true;
    if (!reader_ || byte < window_start_) {
      reader_.emplace(start_);
      window_start_ = window_length_ = 0;
    }
    while (!failed_ && !reader_->at_end()) {
      window_start_ = reader_->position();
      const int64_t got = reader_->ReadNext(window_.data(), window_.size());
      if (got <= 0) {
        failed_ = true;
        window_length_ = 0;
        return false;
      }
      window_length_ = static_cast<uint64_t>(got);
      if (byte < window_start_ + window_length_) return true;
    }
    return false;
  }

  uint64_t bytes_per_cluster_;
  uint64_t clusters_;
  uint64_t source_sectors_;
  NtfsDataReader start_;
  std::optional<NtfsDataReader> reader_;
  std::vector<uint8_t> window_;
  uint64_t window_start_ = 0;
  uint64_t window_length_ = 0;
  bool failed_ = false;
  SectorRun cached_;
};

// Whether the first FAT can be read whole, so that no cluster is passed over as in use only
// because its entry could not be read.
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

void FreeSpaceMap::CountFreeSectors() {
  free_sectors_ = 0;
  SectorRun run;
  for (uint64_t from = 0; NextRun(from, &run); from = run.end()) free_sectors_ += run.count;
}

FreeSpaceResult OpenFreeSpaceMap(ByteSource& volume, std::unique_ptr<FreeSpaceMap>* map) {
  map->reset();
  std::array<uint8_t, kSectorBytes> boot{};
  if (!volume.ReadExact(0, boot.data(), boot.size())) return FreeSpaceResult::kUnreadable;
  if (std::memcmp(boot.data() + 3, "NTFS    ", 8) == 0) {
    constexpr uint64_t kBitmapRecord = 6;
    NtfsDrive drive(volume);
    std::optional<NtfsDataReader> bitmap;
    if (drive.ReadSystemFileData(kBitmapRecord, &bitmap) != 0) return FreeSpaceResult::kUnreadable;
    auto ntfs = std::make_unique<NtfsFreeSpace>(volume, drive.bytes_per_cluster(),
                                                drive.volume_clusters(), *bitmap);
    if (ntfs->failed()) return FreeSpaceResult::kUnreadable;
    *map = std::move(ntfs);
    return FreeSpaceResult::kOk;
  }
  FatVolumeInfo info;
  if (std::memcmp(boot.data() + 3, "EXFAT   ", 8) == 0 || !ParseFatBootSector(boot.data(), &info) ||
      !FatGeometryUsable(info)) {
    return FreeSpaceResult::kNotFatOrNtfs;
  }
  if (!FatIsReadable(volume, info)) return FreeSpaceResult::kUnreadable;
  *map = std::make_unique<FatFreeSpace>(volume, info);
  return FreeSpaceResult::kOk;
}

}  // namespace kestrel
