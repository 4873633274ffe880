#include "fs/ntfs/ntfs_volume.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <utility>

#include "fs/file_name.h"
#include "platform/byte_order.h"
#include "platform/utf16_text.h"

namespace kestrel {
namespace {

constexpr uint32_t kBootSectorBytes = 512;
constexpr uint32_t kMaxClusterBytes = 2 * 1024 * 1024;
constexpr uint32_t kMinRecordBytes = 512;
constexpr uint32_t kMaxRecordBytes = 64 * 1024;
constexpr uint32_t kDataType = 0x80;
constexpr uint64_t kRecordNumberMask = 0x0000FFFFFFFFFFFF;
constexpr size_t kListEntryBytes = 26;
// An attribute list of a file with hundreds of thousands of fragments stays below this.
constexpr uint64_t kMaxAttributeListBytes = 16 * 1024 * 1024;

// Sectors per cluster: the byte itself up to 128; above, newer volumes store a negative power
// of two (0xF4: 2^12 sectors, for 2 MiB clusters).
uint32_t SectorsPerCluster(uint8_t value) {
  if (value <= 0x80) return value;
  const int shift = 256 - value;
  return shift <= 20 ? uint32_t{1} << shift : 0;
}

}  // namespace

uint64_t NtfsRecordBytes(uint8_t clusters_per_record, uint32_t bytes_per_cluster) {
  const auto value = static_cast<int8_t>(clusters_per_record);
  if (value < 0) return -value < 32 ? uint64_t{1} << -value : 0;
  return static_cast<uint64_t>(value) * bytes_per_cluster;
}

int NtfsDrive::ReadGeometry() {
  uint8_t boot[kBootSectorBytes];
  if (!volume_.ReadExact(0, boot, sizeof boot)) return ntfs_error::kReadFault;
  if (std::memcmp(boot + 3, "NTFS", 4) != 0) return ntfs_error::kNotNtfs;
  const uint32_t bytes_per_sector = LoadLe16(boot + 11);
  const uint64_t cluster = uint64_t{bytes_per_sector} * SectorsPerCluster(boot[13]);
  if (bytes_per_sector < 256 || bytes_per_sector > 4096 || !std::has_single_bit(bytes_per_sector) ||
      cluster == 0 || cluster > kMaxClusterBytes || !std::has_single_bit(cluster)) {
    return ntfs_error::kBadRecord;
  }
  bytes_per_cluster_ = static_cast<uint32_t>(cluster);
  const uint64_t record = NtfsRecordBytes(boot[64], bytes_per_cluster_);
  if (record < kMinRecordBytes || record > kMaxRecordBytes || record % kUpdateSequenceStride != 0) {
    return ntfs_error::kBadRecord;
  }
  record_size_ = static_cast<uint32_t>(record);
  // The volume ends where its boot sector says, or earlier where the source ends.
  const uint64_t total_sectors = LoadLe64(boot + 40);
  volume_bytes_ = volume_.Size();
  if (total_sectors != 0 && total_sectors <= volume_bytes_ / bytes_per_sector) {
    volume_bytes_ = total_sectors * bytes_per_sector;
  }
  volume_clusters_ = volume_bytes_ / bytes_per_cluster_;
  mft_cluster_ = LoadLe64(boot + 48);
  if (mft_cluster_ >= volume_clusters_ ||
      (volume_clusters_ - mft_cluster_) * bytes_per_cluster_ < record_size_) {
    return ntfs_error::kBadRecord;
  }
  return record_.SetParams(record_size_, bytes_per_cluster_, volume_clusters_);
}

int NtfsDrive::OpenMft(std::optional<NtfsDataReader>* mft) {
  if (int error = ReadGeometry(); error != ntfs_error::kOk) return error;
  record_buffer_.assign(record_size_, 0);
  if (!volume_.ReadExact(mft_cluster_ * bytes_per_cluster_, record_buffer_.data(), record_size_)) {
    return ntfs_error::kReadFault;
  }
  if (int error = record_.ParseRecord(record_buffer_, true); error != ntfs_error::kOk) {
    return error;
  }
  if (!record_.file_name() || record_.file_name()->name != u"$MFT") return ntfs_error::kNotMft;
  if (!record_.data() || record_.data()->resident) return ntfs_error::kBadRecord;
  mft->emplace(volume_, bytes_per_cluster_, *record_.data());
  return ntfs_error::kOk;
}

int NtfsDrive::LoadMft(const Progress& progress) {
  loaded_ = false;
  mft_.clear();
  std::optional<NtfsDataReader> reader;
  if (int error = OpenMft(&reader); error != ntfs_error::kOk) return error;
  if (int error = ReadMftContent(*reader, progress); error != ntfs_error::kOk) {
    mft_.clear();
    mft_.shrink_to_fit();
    return error;
  }
  loaded_ = true;
  return ntfs_error::kOk;
}

int NtfsDrive::ReadMftContent(NtfsDataReader& reader, const Progress& progress) {
  // Whole records only; an MFT cannot be larger than the volume that holds it.
  const uint64_t length = reader.length() / record_size_ * record_size_;
  if (length == 0 || length > volume_bytes_) return ntfs_error::kBadRecord;
  try {
    mft_.resize(length);
  } catch (const std::bad_alloc&) {
    return ntfs_error::kNotEnoughMemory;
  }
  uint64_t done = 0;
  while (done < length) {
    if (progress && !progress(done, length)) return ntfs_error::kCancelled;
    const size_t capacity = static_cast<size_t>(std::min<uint64_t>(kNtfsPieceBytes, length - done));
    const int64_t got = reader.ReadNext(mft_.data() + done, capacity);
    if (got <= 0) return ntfs_error::kReadFault;
    done += static_cast<uint64_t>(got);
  }
  return ntfs_error::kOk;
}

int NtfsDrive::ParseLoadedRecord(uint64_t record_number, bool want_data) {
  if (!loaded_) return ntfs_error::kNotLoaded;
  if (record_number >= record_count()) return ntfs_error::kNoMoreRecords;
  // Parsed in a copy: the fix-up changes the record, and the loaded MFT stays as read.
  const uint8_t* source = mft_.data() + record_number * record_size_;
  std::copy_n(source, record_size_, record_buffer_.begin());
  return record_.ParseRecord(record_buffer_, want_data);
}

int NtfsDrive::GetFileDetail(uint64_t record_number, NtfsFileDetail* detail) {
  if (int error = ParseLoadedRecord(record_number, false); error != ntfs_error::kOk) return error;
  *detail = NtfsFileDetail{};
  const std::array<uint8_t, 40>& info = record_.standard_information();
  detail->creation_time = LoadLe64(info.data());
  detail->modification_time = LoadLe64(info.data() + 8);
  detail->mft_change_time = LoadLe64(info.data() + 16);
  detail->access_time = LoadLe64(info.data() + 24);
  if (const std::optional<NtfsFileName>& name = record_.file_name()) {
    detail->name = Utf16ToUtf8(name->name);
    detail->named = true;
    detail->flags = name->flags;
    detail->parent_reference = name->parent_reference;
    detail->clusters = std::max<uint64_t>(1, name->allocated_size / bytes_per_cluster_);
  }
  detail->deleted = !record_.in_use();
  detail->sequence = record_.sequence();
  detail->extension = record_.base_reference() != 0;
  detail->directory = (detail->flags & kFileNameDirectoryFlag) != 0 || record_.directory_record();
  return ntfs_error::kOk;
}

int NtfsDrive::ReadFileData(uint64_t record_number, std::optional<NtfsDataReader>* data) {
  data->reset();
  if (int error = ParseLoadedRecord(record_number, true); error != ntfs_error::kOk) return error;
  std::optional<NtfsAttributeValue> value = record_.data();
  if (std::optional<NtfsAttributeValue> list = record_.attribute_list()) {
    if (int error = GatherExtents(record_number, *list, &value); error != ntfs_error::kOk) {
      return error;
    }
  }
  if (!value || value->lowest_vcn != 0) return ntfs_error::kBadRecord;
  // Runs that end before the file's size (extents lost) would give the file back cut short.
  if (!value->resident && TotalClusters(value->runs) * bytes_per_cluster_ < value->real_size) {
    return ntfs_error::kBadRecord;
  }
  data->emplace(volume_, bytes_per_cluster_, std::move(*value));
  return ntfs_error::kOk;
}

// The unnamed $DATA extents an attribute list names, in VCN order: (lowest VCN, record).
int NtfsDrive::ReadListEntries(const NtfsAttributeValue& list,
                               std::vector<std::pair<uint64_t, uint64_t>>* extents) {
  std::vector<uint8_t> bytes = list.bytes;
  if (!list.resident) {
    NtfsDataReader reader(volume_, bytes_per_cluster_, list);
    if (reader.length() > kMaxAttributeListBytes) return ntfs_error::kBadRecord;
    bytes.resize(static_cast<size_t>(reader.length()));
    for (size_t done = 0; done < bytes.size();) {
      const int64_t got = reader.ReadNext(bytes.data() + done, bytes.size() - done);
      if (got <= 0) return ntfs_error::kReadFault;
      done += static_cast<size_t>(got);
    }
  }
  // Each entry: type, entry length, name length, name offset, lowest VCN, record reference.
  for (size_t at = 0; at + kListEntryBytes <= bytes.size();) {
    const uint32_t type = LoadLe32(bytes.data() + at);
    const uint16_t length = LoadLe16(bytes.data() + at + 4);
    if (length < kListEntryBytes || length > bytes.size() - at) return ntfs_error::kBadRecord;
    if (type == kDataType && bytes[at + 6] == 0) {
      extents->emplace_back(LoadLe64(bytes.data() + at + 8),
                            LoadLe64(bytes.data() + at + 16) & kRecordNumberMask);
    }
    at += length;
  }
  std::sort(extents->begin(), extents->end());
  return ntfs_error::kOk;
}

// Joins the extents of a $DATA value that an attribute list spreads over other records. Each
// must belong to the file (its base reference names it) and continue where the runs so far end.
int NtfsDrive::GatherExtents(uint64_t record_number, const NtfsAttributeValue& list,
                             std::optional<NtfsAttributeValue>* value) {
  std::vector<std::pair<uint64_t, uint64_t>> extents;
  if (int error = ReadListEntries(list, &extents); error != ntfs_error::kOk) return error;
  const std::optional<NtfsAttributeValue> own = *value;
  value->reset();
  for (const auto& [lowest_vcn, holder] : extents) {
    std::optional<NtfsAttributeValue> extent;
    if (holder == record_number) {
      extent = own;
    } else {
      if (ParseLoadedRecord(holder, true) != ntfs_error::kOk ||
          record_.base_reference() != record_number) {
        return ntfs_error::kBadRecord;
      }
      extent = record_.data();
    }
    if (!extent || extent->resident || extent->lowest_vcn != lowest_vcn) {
      return ntfs_error::kBadRecord;
    }
    if (!*value) {
      if (lowest_vcn != 0) return ntfs_error::kBadRecord;
      *value = std::move(extent);
      continue;
    }
    if (lowest_vcn != TotalClusters((*value)->runs)) return ntfs_error::kBadRecord;
    (*value)->runs.insert((*value)->runs.end(), extent->runs.begin(), extent->runs.end());
  }
  if (!*value) *value = own;
  return ntfs_error::kOk;
}

int NtfsDrive::ReadSystemFileData(uint64_t record_number, std::optional<NtfsDataReader>* data) {
  constexpr uint64_t kSystemRecords = 16;
  data->reset();
  if (record_number >= kSystemRecords) return ntfs_error::kBadRecord;
  std::optional<NtfsDataReader> mft;
  if (int error = OpenMft(&mft); error != ntfs_error::kOk) return error;
  // The records before the wanted one are read through and passed over.
  if (mft->length() < (record_number + 1) * record_size_) return ntfs_error::kBadRecord;
  for (uint64_t record = 0; record <= record_number; ++record) {
    for (size_t filled = 0; filled < record_size_;) {
      const int64_t got = mft->ReadNext(record_buffer_.data() + filled, record_size_ - filled);
      if (got <= 0) return ntfs_error::kReadFault;
      filled += static_cast<size_t>(got);
    }
  }
  if (int error = record_.ParseRecord(record_buffer_, true); error != ntfs_error::kOk) {
    return error;
  }
  if (!record_.data()) return ntfs_error::kBadRecord;
  data->emplace(volume_, bytes_per_cluster_, *record_.data());
  return ntfs_error::kOk;
}

}  // namespace kestrel
