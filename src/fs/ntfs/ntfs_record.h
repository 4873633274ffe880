#pragma once
// One NTFS file record: the update-sequence check, the walk over its attributes, and the values
// the deleted-files recovery needs ($STANDARD_INFORMATION, $FILE_NAME, the unnamed $DATA).

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "fs/ntfs/ntfs_runs.h"

namespace kestrel {

// Results of the NTFS reader, in the Windows error numbers the recovery loop reacts to.
namespace ntfs_error {
inline constexpr int kOk = 0;
inline constexpr int kCancelled = 1;
inline constexpr int kNotEnoughMemory = 8;
inline constexpr int kNotLoaded = 12;
inline constexpr int kNotNtfs = 15;
inline constexpr int kNoMoreRecords = 18;
inline constexpr int kReadFault = 30;
inline constexpr int kBadRecord = 87;  // also a bad parameter or a damaged structure
inline constexpr int kNotMft = 1200;
}  // namespace ntfs_error

// Stride of the update sequence: the last two bytes of every 512 bytes of a record are stored
// in the update sequence array and replaced on disk by the update sequence number.
inline constexpr uint32_t kUpdateSequenceStride = 512;

// Puts the real last two bytes of every stride back. False, with the record left as it was,
// when the array does not fit the record or a stride's last two bytes are not the update
// sequence number (a torn or damaged record). `record.size()` must be a multiple of the stride.
bool ApplyUpdateSequence(std::span<uint8_t> record);

// A $FILE_NAME value.
struct NtfsFileName {
  uint64_t parent_reference = 0;
  uint64_t allocated_size = 0;
  uint64_t real_size = 0;
  uint32_t flags = 0;      // 0x10000000: a directory
  uint8_t name_space = 0;  // 0 POSIX, 1 Win32, 2 DOS, 3 Win32 and DOS
  std::u16string name;
};

// The value of one attribute: the bytes of a resident value, or the runs of a non-resident one.
struct NtfsAttributeValue {
  bool resident = true;
  std::vector<uint8_t> bytes;     // resident value
  std::vector<DataRun> runs;      // non-resident value
  uint64_t real_size = 0;         // length of the value
  uint64_t initialized_size = 0;  // bytes past it read as zeros
  uint64_t allocated_size = 0;
  uint16_t flags = 0;            // 0x0001 compressed, 0x4000 encrypted, 0x8000 sparse
  uint8_t compression_unit = 0;  // log2 of the clusters per compression unit (0: none)
  uint64_t lowest_vcn = 0;       // where this extent starts inside the value
  bool Compressed() const { return !resident && (flags & 0x0001) != 0 && compression_unit != 0; }
};

inline constexpr uint32_t kFileNameDirectoryFlag = 0x10000000;

class MftRecord {
 public:
  // Sizes of a record and a cluster (both non-zero and even) and the clusters of the volume,
  // which bound every run. 87 when a size is 0 or odd.
  int SetParams(uint32_t record_size, uint32_t bytes_per_cluster, uint64_t volume_clusters);

  // Parses one record in place: applies the update sequence, then walks the attributes. With
  // `want_data`, the unnamed $DATA value is read too (named streams are other content and are
  // left out). Returns 0, or 87 when the record is smaller than the record size, has no "FILE"
  // signature, fails its update-sequence check, or holds an attribute that does not fit it
  // (length 0, past the record, a value or run list outside the attribute, runs outside the
  // volume).
  int ParseRecord(std::span<uint8_t> record, bool want_data);

  bool in_use() const { return in_use_; }
  // The record's sequence number: references to it carry it in their top 16 bits.
  uint16_t sequence() const { return sequence_; }
  // Bit 1 of the record flags: the record describes a directory.
  bool directory_record() const { return directory_record_; }
  // The base record of an extension record, 0 for a base record.
  uint64_t base_reference() const { return base_reference_; }
  // Creation, modification, MFT change and access times, then the file attributes.
  const std::array<uint8_t, 40>& standard_information() const { return standard_information_; }
  // The name kept by the walk: each $FILE_NAME replaces the one before, but a DOS name read
  // last gives way to the record's first name.
  const std::optional<NtfsFileName>& file_name() const { return file_name_; }
  // The first unnamed $DATA value (or, in an extension record, extent), when asked for and
  // present.
  const std::optional<NtfsAttributeValue>& data() const { return data_; }
  // The $ATTRIBUTE_LIST value, when asked for the data and present: the attributes (or their
  // extents) that lie in other records.
  const std::optional<NtfsAttributeValue>& attribute_list() const { return attribute_list_; }

 private:
  int WalkAttributes(std::span<const uint8_t> record, uint32_t first_offset, bool want_data);
  int ReadAttributeValue(std::span<const uint8_t> attribute, NtfsAttributeValue* value) const;
  int ReadNonResidentValue(std::span<const uint8_t> attribute, NtfsAttributeValue* value) const;
  void TakeFileName(NtfsFileName name, std::optional<NtfsFileName>* first);

  uint32_t record_size_ = 0;
  uint32_t bytes_per_cluster_ = 0;
  uint64_t volume_clusters_ = 0;
  bool in_use_ = false;
  uint16_t sequence_ = 0;
  bool directory_record_ = false;
  uint64_t base_reference_ = 0;
  std::array<uint8_t, 40> standard_information_{};
  std::optional<NtfsFileName> file_name_;
  std::optional<NtfsAttributeValue> data_;
  std::optional<NtfsAttributeValue> attribute_list_;
};

}  // namespace kestrel
