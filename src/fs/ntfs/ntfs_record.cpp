#include "fs/ntfs/ntfs_record.h"

#include <algorithm>
#include <cstring>

#include "platform/byte_order.h"

namespace kestrel {
namespace {

// Attribute types the walk looks at.
constexpr uint32_t kStandardInformation = 0x10;
constexpr uint32_t kAttributeList = 0x20;
constexpr uint32_t kFileName = 0x30;
constexpr uint32_t kData = 0x80;
constexpr uint32_t kIndexRoot = 0x90;
constexpr uint32_t kIndexAllocation = 0xA0;
constexpr uint32_t kEndMarker = 0xFFFFFFFF;

constexpr uint32_t kRecordHeaderBytes = 48;
constexpr uint32_t kAttributeHeaderBytes = 16;
constexpr uint32_t kResidentHeaderBytes = 24;
constexpr uint32_t kNonResidentHeaderBytes = 64;
constexpr uint32_t kFileNameFixedBytes = 66;
constexpr uint8_t kDosNameSpace = 2;

// Non-resident values larger than this are damage, not data (it also keeps every cluster
// number times the cluster size inside 64 bits).
constexpr uint64_t kMaxValueBytes = uint64_t{1} << 62;
// Compression units hold 16 clusters on real volumes; a far larger one is damage.
constexpr uint8_t kMaxCompressionUnit = 8;
constexpr uint64_t kMaxCompressionUnitBytes = 1024 * 1024;

std::optional<NtfsFileName> ParseFileName(std::span<const uint8_t> value) {
  if (value.size() < kFileNameFixedBytes) return std::nullopt;
  const uint8_t* v = value.data();
  NtfsFileName name;
  name.parent_reference = LoadLe64(v);
  name.allocated_size = LoadLe64(v + 40);
  name.real_size = LoadLe64(v + 48);
  name.flags = LoadLe32(v + 56);
  const size_t length = v[64];
  name.name_space = v[65];
  if (kFileNameFixedBytes + 2 * length > value.size()) return std::nullopt;
  name.name.resize(length);
  for (size_t i = 0; i < length; ++i) {
    name.name[i] = static_cast<char16_t>(LoadLe16(v + kFileNameFixedBytes + 2 * i));
  }
  return name;
}

}  // namespace

bool ApplyUpdateSequence(std::span<uint8_t> record) {
  const size_t size = record.size();
  if (size < kUpdateSequenceStride || size % kUpdateSequenceStride != 0) return false;
  const size_t strides = size / kUpdateSequenceStride;
  const size_t array_offset = LoadLe16(record.data() + 4);
  const size_t count = LoadLe16(record.data() + 6);
  // The array holds the sequence number and one entry per stride, inside the first stride.
  if (count != strides + 1 || array_offset % 2 != 0 || array_offset < 8 ||
      array_offset + 2 * count > kUpdateSequenceStride - 2) {
    return false;
  }
  const uint8_t* usn = record.data() + array_offset;
  for (size_t i = 1; i <= strides; ++i) {
    const uint8_t* tail = record.data() + i * kUpdateSequenceStride - 2;
    if (tail[0] != usn[0] || tail[1] != usn[1]) return false;
  }
  for (size_t i = 1; i <= strides; ++i) {
    std::memcpy(record.data() + i * kUpdateSequenceStride - 2, usn + 2 * i, 2);
  }
  return true;
}

int MftRecord::SetParams(uint32_t record_size, uint32_t bytes_per_cluster,
                         uint64_t volume_clusters) {
  if (record_size == 0 || record_size % 2 != 0 || bytes_per_cluster == 0 ||
      bytes_per_cluster % 2 != 0) {
    return ntfs_error::kBadRecord;
  }
  record_size_ = record_size;
  bytes_per_cluster_ = bytes_per_cluster;
  volume_clusters_ = volume_clusters;
  return ntfs_error::kOk;
}

int MftRecord::ParseRecord(std::span<uint8_t> record, bool want_data) {
  in_use_ = false;
  sequence_ = 0;
  directory_record_ = false;
  base_reference_ = 0;
  standard_information_.fill(0);
  file_name_.reset();
  data_.reset();
  attribute_list_.reset();
  if (record_size_ < kRecordHeaderBytes || record.size() < record_size_) {
    return ntfs_error::kBadRecord;
  }
  record = record.first(record_size_);
  if (std::memcmp(record.data(), "FILE", 4) != 0) return ntfs_error::kBadRecord;
  if (!ApplyUpdateSequence(record)) return ntfs_error::kBadRecord;
  const uint16_t flags = LoadLe16(record.data() + 22);
  in_use_ = (flags & 0x0001) != 0;
  sequence_ = LoadLe16(record.data() + 16);
  directory_record_ = (flags & 0x0002) != 0;
  base_reference_ = LoadLe64(record.data() + 32) & 0x0000FFFFFFFFFFFF;
  const uint32_t first_offset = LoadLe16(record.data() + 20);
  if (first_offset < 24 || first_offset >= record_size_) return ntfs_error::kBadRecord;
  return WalkAttributes(record, first_offset, want_data);
}

int MftRecord::WalkAttributes(std::span<const uint8_t> record, uint32_t offset, bool want_data) {
  std::optional<NtfsFileName> first_name;
  bool data_seen = false;
  for (;;) {
    if (record.size() - offset < 4) return ntfs_error::kBadRecord;  // no end marker
    const uint32_t type = LoadLe32(record.data() + offset);
    if (type == kEndMarker || type == kIndexRoot || type == kIndexAllocation) break;
    if (record.size() - offset < kAttributeHeaderBytes) return ntfs_error::kBadRecord;
    const uint32_t length = LoadLe32(record.data() + offset + 4);
    if (length < kAttributeHeaderBytes || length > record.size() - offset) {
      return ntfs_error::kBadRecord;
    }
    const std::span<const uint8_t> attribute = record.subspan(offset, length);
    const bool resident = attribute[8] == 0;
    const uint8_t name_length = attribute[9];
    if (name_length != 0 && LoadLe16(attribute.data() + 10) + 2u * name_length > length) {
      return ntfs_error::kBadRecord;
    }
    if ((type == kStandardInformation || type == kFileName) && resident) {
      NtfsAttributeValue value;
      if (ReadAttributeValue(attribute, &value) != ntfs_error::kOk) return ntfs_error::kBadRecord;
      if (type == kStandardInformation) {
        std::copy_n(value.bytes.begin(), std::min(value.bytes.size(), standard_information_.size()),
                    standard_information_.begin());
      } else {
        std::optional<NtfsFileName> name = ParseFileName(value.bytes);
        if (!name) return ntfs_error::kBadRecord;
        TakeFileName(std::move(*name), &first_name);
      }
    } else if (type == kAttributeList && want_data && !attribute_list_) {
      NtfsAttributeValue value;
      if (ReadAttributeValue(attribute, &value) != ntfs_error::kOk) return ntfs_error::kBadRecord;
      attribute_list_ = std::move(value);
    } else if (type == kData && name_length == 0 && !data_seen) {
      // Only the unnamed stream is the file's content; named streams are other data.
      data_seen = true;
      if (want_data) {
        NtfsAttributeValue value;
        if (ReadAttributeValue(attribute, &value) != ntfs_error::kOk) return ntfs_error::kBadRecord;
        data_ = std::move(value);
      }
    }
    offset += length;
  }
  return ntfs_error::kOk;
}

void MftRecord::TakeFileName(NtfsFileName name, std::optional<NtfsFileName>* first) {
  if (!*first) *first = name;
  if (name.name_space == kDosNameSpace) {
    file_name_ = *first;
  } else {
    file_name_ = std::move(name);
  }
}

int MftRecord::ReadAttributeValue(std::span<const uint8_t> attribute,
                                  NtfsAttributeValue* value) const {
  value->flags = LoadLe16(attribute.data() + 12);
  if (attribute[8] != 0) return ReadNonResidentValue(attribute, value);
  if (attribute.size() < kResidentHeaderBytes) return ntfs_error::kBadRecord;
  const uint32_t value_length = LoadLe32(attribute.data() + 16);
  const uint32_t value_offset = LoadLe16(attribute.data() + 20);
  if (value_offset > attribute.size() || value_length > attribute.size() - value_offset) {
    return ntfs_error::kBadRecord;
  }
  value->resident = true;
  value->bytes.assign(attribute.begin() + value_offset,
                      attribute.begin() + value_offset + value_length);
  value->real_size = value->initialized_size = value->allocated_size = value_length;
  return ntfs_error::kOk;
}

int MftRecord::ReadNonResidentValue(std::span<const uint8_t> attribute,
                                    NtfsAttributeValue* value) const {
  if (attribute.size() < kNonResidentHeaderBytes) return ntfs_error::kBadRecord;
  const uint8_t* a = attribute.data();
  const uint64_t lowest_vcn = LoadLe64(a + 16);
  const auto highest_vcn = static_cast<int64_t>(LoadLe64(a + 24));
  const uint32_t runs_offset = LoadLe16(a + 32);
  value->resident = false;
  value->allocated_size = LoadLe64(a + 40);
  value->real_size = LoadLe64(a + 48);
  value->initialized_size = std::min(LoadLe64(a + 56), value->real_size);
  value->compression_unit = a[34];
  value->lowest_vcn = lowest_vcn;
  // The sizes of a value are stored in its first extent only (lowest VCN 0); later extents,
  // in other records, continue its runs.
  if (highest_vcn < -1 || static_cast<uint64_t>(highest_vcn + 1) < lowest_vcn) {
    return ntfs_error::kBadRecord;
  }
  const uint64_t extent_clusters = static_cast<uint64_t>(highest_vcn + 1) - lowest_vcn;
  if (value->Compressed() &&
      (value->compression_unit > kMaxCompressionUnit ||
       (uint64_t{bytes_per_cluster_} << value->compression_unit) > kMaxCompressionUnitBytes)) {
    return ntfs_error::kBadRecord;
  }
  if (extent_clusters > kMaxValueBytes / bytes_per_cluster_) return ntfs_error::kBadRecord;
  if (value->real_size > value->allocated_size || value->allocated_size > kMaxValueBytes) {
    return ntfs_error::kBadRecord;
  }
  if (runs_offset < kNonResidentHeaderBytes || runs_offset > attribute.size()) {
    return ntfs_error::kBadRecord;
  }
  if (!DecodeRunList(attribute.subspan(runs_offset), lowest_vcn, volume_clusters_, extent_clusters,
                     &value->runs) ||
      TotalClusters(value->runs) != extent_clusters) {
    return ntfs_error::kBadRecord;
  }
  return ntfs_error::kOk;
}

}  // namespace kestrel
