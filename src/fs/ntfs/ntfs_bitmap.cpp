#include "fs/ntfs/ntfs_bitmap.h"

#include <algorithm>

#include "fs/bit_scan.h"

namespace kestrel {

NtfsBitmap::NtfsBitmap(const NtfsDataReader& bitmap, uint64_t clusters, size_t window_bytes)
    : start_(bitmap), clusters_(clusters), window_(window_bytes) {}

bool NtfsBitmap::InUse(uint64_t cluster) {
  if (cluster >= clusters_ || !Load(cluster / 8)) return false;
  return ((window_[cluster / 8 - window_start_] >> (cluster % 8)) & 1) != 0;
}

uint64_t NtfsBitmap::FindCluster(uint64_t cluster, bool in_use) {
  while (cluster < clusters_) {
    if (!Load(cluster / 8)) return in_use ? clusters_ : cluster;  // not described: free
    // Cluster numbers inside the window, up to its end or the volume's last cluster.
    const uint64_t first = window_start_ * 8;
    const uint64_t window_end = std::min((window_start_ + window_length_) * 8, clusters_);
    const uint64_t found = FindBit(window_.data(), cluster - first, window_end - first, in_use);
    if (found < window_end - first) return found + first;
    cluster = window_end;
  }
  return clusters_;
}

bool NtfsBitmap::Load(uint64_t byte) {
  if (byte >= window_start_ && byte < window_start_ + window_length_) return true;
  if (!reader_ || byte < window_start_) {
    reader_.emplace(start_);
    window_start_ = window_length_ = 0;
  }
  // The window is filled with the pieces from the reader's position on.
  while (!failed_ && !reader_->at_end()) {
    window_start_ = reader_->position();
    window_length_ = 0;
    while (window_length_ < window_.size() && !reader_->at_end()) {
      const int64_t got =
          reader_->ReadNext(window_.data() + window_length_, window_.size() - window_length_);
      if (got <= 0) {
        failed_ = true;
        break;
      }
      window_length_ += static_cast<uint64_t>(got);
    }
    if (byte >= window_start_ && byte < window_start_ + window_length_) return true;
  }
  return false;
}

}  // namespace kestrel
