#include "disk/ntfs_data_reader.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace kestrel {

NtfsDataReader::NtfsDataReader(ByteSource& volume, uint32_t bytes_per_cluster,
                               NtfsAttributeValue value)
    : volume_(volume), bytes_per_cluster_(bytes_per_cluster), value_(std::move(value)) {
  if (value_.resident) {
    length_ = value_.bytes.size();
  } else {
    length_ = std::min(value_.real_size, TotalClusters(value_.runs) * bytes_per_cluster_);
  }
}

const DataRun* NtfsDataReader::RunAt(uint64_t vcn) {
  while (run_index_ < value_.runs.size()) {
    const DataRun& run = value_.runs[run_index_];
    if (vcn < run.first_vcn + run.cluster_count) return vcn >= run.first_vcn ? &run : nullptr;
    ++run_index_;
  }
  return nullptr;
}

int64_t NtfsDataReader::ReadNext(uint8_t* buffer, size_t capacity) {
  if (at_end() || capacity == 0) return 0;
  uint64_t piece = std::min<uint64_t>(capacity, length_ - position_);
  if (value_.resident) {
    std::memcpy(buffer, value_.bytes.data() + position_, piece);
    position_ += piece;
    return static_cast<int64_t>(piece);
  }
  bool zeros = position_ >= value_.initialized_size;
  if (!zeros) {
    piece = std::min(piece, value_.initialized_size - position_);
    const DataRun* run = RunAt(position_ / bytes_per_cluster_);
    if (run == nullptr) return -1;  // the runs cover the length; this cannot happen
    const uint64_t run_end = (run->first_vcn + run->cluster_count) * bytes_per_cluster_;
    piece = std::min(piece, run_end - position_);
    if (run->sparse) {
      zeros = true;
    } else {
      const uint64_t offset =
          run->lcn * bytes_per_cluster_ + (position_ - run->first_vcn * bytes_per_cluster_);
      if (!volume_.ReadExact(offset, buffer, piece)) return -1;
    }
  }
  if (zeros) std::memset(buffer, 0, piece);
  position_ += piece;
  return static_cast<int64_t>(piece);
}

}  // namespace kestrel
