#include "fs/exfat/exfat_volume.h"

#include <algorithm>
#include <cstring>

#include "platform/byte_order.h"

namespace kestrel {
namespace {

constexpr size_t kPieceBytes = 64 * 1024;

}  // namespace

ExfatVolume::ExfatVolume(ByteSource& source, const ExfatGeometry& geometry)
    : source_(source), geometry_(geometry), fat_(source, geometry_) {}

std::unique_ptr<ExfatVolume> ExfatVolume::Open(ByteSource& source, const ExfatGeometry& geometry,
                                               size_t bitmap_window) {
  std::unique_ptr<ExfatVolume> volume(new ExfatVolume(source, geometry));
  const uint64_t max_clusters = std::max<uint64_t>(
      1,
      std::min<uint64_t>(kMaxExfatFolderBytes >> geometry.cluster_shift, geometry.cluster_count));
  volume->root_ = volume->fat_.ChainToEnd(geometry.root_cluster, max_clusters);
  if (volume->root_.empty() || !volume->FindBitmap(bitmap_window)) return nullptr;
  return volume;
}

// The root's Allocation Bitmap entry of the FAT in use (bit 0 of its flags names it).
bool ExfatVolume::FindBitmap(size_t bitmap_window) {
  const uint64_t needed_bytes = (uint64_t{geometry_.cluster_count} + 7) / 8;
  ExfatEntryReader reader(*this, root_, ClusterTotal(root_) << geometry_.cluster_shift);
  ExfatRawEntry entry;
  while (reader.Next(&entry) && entry[0] != exfat_entry::kEndOfDirectory) {
    if (entry[0] != exfat_entry::kAllocationBitmap || (entry[1] & 1) != geometry_.active_fat) {
      continue;
    }
    const uint32_t first = LoadLe32(entry.data() + 20);
    if (LoadLe64(entry.data() + 24) < needed_bytes || !geometry_.IsCluster(first)) return false;
    bool complete = false;
    bitmap_clusters_ = fat_.Chain(first, ClustersFor(needed_bytes), &complete);
    if (!complete) return false;
    bitmap_ = std::make_unique<ExfatBitmap>(source_, geometry_, bitmap_clusters_, bitmap_window);
    return true;
  }
  return false;
}

uint32_t ExfatVolume::LastReadableCluster() const {
  const uint64_t size = source_.Size();
  if (size <= geometry_.heap_offset) return 1;
  const uint64_t clusters = ((size - geometry_.heap_offset - 1) >> geometry_.cluster_shift) + 1;
  return static_cast<uint32_t>(std::min<uint64_t>(clusters + 1, geometry_.LastCluster()));
}

uint64_t ExfatVolume::ClustersFor(uint64_t bytes) const {
  const uint64_t whole = bytes >> geometry_.cluster_shift;
  return whole + ((bytes & (geometry_.BytesPerCluster() - 1)) != 0 ? 1 : 0);
}

ExfatEntryReader::ExfatEntryReader(ExfatVolume& volume, ClusterRuns clusters, uint64_t bytes)
    : volume_(volume), clusters_(std::move(clusters)), remaining_(bytes) {}

bool ExfatEntryReader::LoadPiece() {
  const uint32_t shift = volume_.geometry().cluster_shift;
  while (run_ < clusters_.size() && in_run_ >= uint64_t{clusters_[run_].count} << shift) {
    ++run_;
    in_run_ = 0;
  }
  if (run_ == clusters_.size() || remaining_ < kExfatEntryBytes) return false;
  const ClusterRun& run = clusters_[run_];
  const uint64_t length = std::min<uint64_t>({kPieceBytes, (uint64_t{run.count} << shift) - in_run_,
                                              remaining_ - remaining_ % kExfatEntryBytes});
  piece_.resize(static_cast<size_t>(length));
  if (!volume_.source().ReadExact(volume_.geometry().ClusterOffset(run.first) + in_run_,
                                  piece_.data(), piece_.size())) {
    return false;
  }
  in_run_ += length;
  remaining_ -= length;
  piece_at_ = 0;
  return true;
}

bool ExfatEntryReader::Next(ExfatRawEntry* entry) {
  if (!put_back_.empty()) {
    *entry = put_back_.front();
    put_back_.pop_front();
    return true;
  }
  if (piece_at_ + kExfatEntryBytes > piece_.size() && !LoadPiece()) return false;
  std::memcpy(entry->data(), piece_.data() + piece_at_, kExfatEntryBytes);
  piece_at_ += kExfatEntryBytes;
  return true;
}

void ExfatEntryReader::PutBack(const ExfatRawEntry* entries, size_t count) {
  put_back_.insert(put_back_.begin(), entries, entries + count);
}

}  // namespace kestrel
