#include "fs/ntfs/ntfs_data_reader.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "fs/ntfs/ntfs_lznt1.h"

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

// A unit whose clusters are all stored is raw; one with fewer stored clusters than the unit
// holds them compressed (the rest of the unit is a hole); a unit without any is zeros.
int64_t NtfsDataReader::LoadUnit(uint64_t unit) {
  const uint64_t unit_clusters = uint64_t{1} << value_.compression_unit;
  const uint64_t first = unit * unit_clusters;
  std::vector<uint8_t> stored;
  for (const DataRun& run : value_.runs) {
    const uint64_t begin = std::max(run.first_vcn, first);
    const uint64_t end = std::min(run.first_vcn + run.cluster_count, first + unit_clusters);
    if (begin >= end || run.sparse) continue;
    const size_t at = stored.size();
    stored.resize(at + (end - begin) * bytes_per_cluster_);
    const uint64_t offset = (run.lcn + (begin - run.first_vcn)) * bytes_per_cluster_;
    if (!volume_.ReadExact(offset, stored.data() + at, stored.size() - at)) {
      return FileContent::kUnreadable;
    }
  }
  unit_.assign(unit_clusters * bytes_per_cluster_, 0);
  if (stored.size() == unit_.size()) {
    unit_.swap(stored);
  } else if (!stored.empty() && !DecompressLznt1(stored, unit_)) {
    return FileContent::kUndecodable;
  }
  unit_index_ = unit;
  return 0;
}

int64_t NtfsDataReader::ReadCompressed(uint8_t* buffer, size_t capacity) {
  const uint64_t unit_bytes = (uint64_t{1} << value_.compression_unit) * bytes_per_cluster_;
  const uint64_t unit = position_ / unit_bytes;
  if (unit != unit_index_) {
    if (const int64_t loaded = LoadUnit(unit); loaded != 0) return loaded;
  }
  const uint64_t inside = position_ - unit * unit_bytes;
  uint64_t piece = std::min<uint64_t>({capacity, length_ - position_, unit_bytes - inside});
  if (position_ >= value_.initialized_size) {
    std::memset(buffer, 0, piece);
  } else {
    piece = std::min(piece, value_.initialized_size - position_);
    std::memcpy(buffer, unit_.data() + inside, piece);
  }
  position_ += piece;
  return static_cast<int64_t>(piece);
}

int64_t NtfsDataReader::ReadNext(uint8_t* buffer, size_t capacity) {
  if (at_end() || capacity == 0) return 0;
  if (value_.Compressed()) return ReadCompressed(buffer, capacity);
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
    if (run == nullptr) return FileContent::kUnreadable;  // the runs cover the length
    const uint64_t run_end = (run->first_vcn + run->cluster_count) * bytes_per_cluster_;
    piece = std::min(piece, run_end - position_);
    if (run->sparse) {
      zeros = true;
    } else {
      const uint64_t offset =
          run->lcn * bytes_per_cluster_ + (position_ - run->first_vcn * bytes_per_cluster_);
      if (!volume_.ReadExact(offset, buffer, piece)) return FileContent::kUnreadable;
    }
  }
  if (zeros) std::memset(buffer, 0, piece);
  position_ += piece;
  return static_cast<int64_t>(piece);
}

uint64_t NtfsDataReader::SkipHole() {
  if (at_end() || value_.resident || value_.Compressed()) return 0;
  uint64_t hole = 0;
  if (position_ >= value_.initialized_size) {
    hole = length_ - position_;
  } else {
    const DataRun* run = RunAt(position_ / bytes_per_cluster_);
    if (run == nullptr || !run->sparse) return 0;
    const uint64_t run_end = (run->first_vcn + run->cluster_count) * bytes_per_cluster_;
    hole = std::min(run_end, length_) - position_;
  }
  position_ += hole;
  return hole;
}

uint64_t NtfsDataReader::StoredBytes() const {
  if (value_.resident || value_.Compressed()) return length_;
  const uint64_t stored_end = std::min(length_, value_.initialized_size);
  uint64_t stored = 0;
  for (const DataRun& run : value_.runs) {
    if (run.sparse) continue;
    const uint64_t begin = run.first_vcn * bytes_per_cluster_;
    const uint64_t end =
        std::min((run.first_vcn + run.cluster_count) * bytes_per_cluster_, stored_end);
    if (begin < end) stored += end - begin;
  }
  return stored;
}

}  // namespace kestrel
