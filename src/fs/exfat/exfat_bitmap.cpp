#include "fs/exfat/exfat_bitmap.h"

#include <algorithm>

#include "fs/bit_scan.h"

namespace kestrel {

ExfatBitmap::ExfatBitmap(ByteSource& volume, const ExfatGeometry& geometry, ClusterRuns clusters,
                         size_t window_bytes)
    : volume_(volume),
      geometry_(geometry),
      clusters_(std::move(clusters)),
      bitmap_bytes_((uint64_t{geometry.cluster_count} + 7) / 8),
      // No larger than the bitmap, nor than the source could hold.
      window_bytes_(static_cast<size_t>(std::max<uint64_t>(
          1, std::min<uint64_t>({window_bytes, bitmap_bytes_, volume.Size()})))) {}

bool ExfatBitmap::ReadBitmapBytes(uint64_t first, uint8_t* out, size_t length) {
  const uint64_t cluster_bytes = geometry_.BytesPerCluster();
  uint64_t run_start = 0;  // bitmap byte of the run's first byte
  for (const ClusterRun& run : clusters_) {
    const uint64_t run_bytes = uint64_t{run.count} * cluster_bytes;
    while (length > 0 && first < run_start + run_bytes) {
      const uint64_t inside = first - run_start;
      const size_t piece = static_cast<size_t>(std::min<uint64_t>(length, run_bytes - inside));
      if (!volume_.ReadExact(geometry_.ClusterOffset(run.first) + inside, out, piece)) {
        return false;
      }
      out += piece;
      first += piece;
      length -= piece;
    }
    if (length == 0) return true;
    run_start += run_bytes;
  }
  return length == 0;
}

bool ExfatBitmap::Load(uint64_t byte) {
  if (byte >= window_first_ && byte < window_first_ + window_length_) return true;
  window_.resize(window_bytes_);
  window_first_ = byte - byte % window_bytes_;
  window_length_ = std::min<uint64_t>(window_bytes_, bitmap_bytes_ - window_first_);
  if (!ReadBitmapBytes(window_first_, window_.data(), static_cast<size_t>(window_length_))) {
    window_length_ = 0;
    failed_ = true;
    return false;
  }
  return true;
}

bool ExfatBitmap::ReadsWhole() {
  for (uint64_t byte = 0; byte < bitmap_bytes_; byte += window_bytes_) {
    if (!Load(byte)) return false;
  }
  return true;
}

bool ExfatBitmap::InUse(uint32_t cluster) {
  if (!geometry_.IsCluster(cluster)) return true;
  const uint64_t bit = cluster - 2;
  if (!Load(bit / 8)) return true;
  return ((window_[bit / 8 - window_first_] >> (bit % 8)) & 1) != 0;
}

uint64_t ExfatBitmap::Find(uint64_t cluster, bool in_use) {
  const uint64_t end = uint64_t{geometry_.LastCluster()} + 1;
  for (cluster = std::max<uint64_t>(cluster, 2); cluster < end;) {
    const uint64_t bit = cluster - 2;
    if (!Load(bit / 8)) {
      if (in_use) return cluster;  // unreadable counts as in use
      const uint64_t next_window = bit / 8 - (bit / 8) % window_bytes_ + window_bytes_;
      cluster = next_window * 8 + 2;
      continue;
    }
    // Bit numbers inside the window, up to its end or the last cluster's bit.
    const uint64_t first_bit = window_first_ * 8;
    const uint64_t window_end = std::min((window_first_ + window_length_) * 8, end - 2);
    const uint64_t found = FindBit(window_.data(), bit - first_bit, window_end - first_bit, in_use);
    if (found < window_end - first_bit) return found + first_bit + 2;
    cluster = window_end + 2;
  }
  return end;
}

}  // namespace kestrel
