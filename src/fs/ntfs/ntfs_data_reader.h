#pragma once
// Reads the content of one NTFS attribute value from the volume piece by piece, so that a file
// of any size is copied through one small buffer.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fs/file_system.h"
#include "fs/ntfs/ntfs_record.h"
#include "platform/byte_source.h"

namespace kestrel {

// Largest piece read at once (and between two polls for Cancel).
inline constexpr size_t kNtfsPieceBytes = 0x20000;

class NtfsDataReader {
 public:
  // `value` comes from a record parsed against the same volume, so its runs lie inside it.
  NtfsDataReader(ByteSource& volume, uint32_t bytes_per_cluster, NtfsAttributeValue value);

  // Bytes of content: the real size, but never more than the runs map (content past the
  // mapping lies in records this reader does not follow).
  uint64_t length() const { return length_; }
  uint64_t position() const { return position_; }
  bool at_end() const { return position_ >= length_; }
  const NtfsAttributeValue& value() const { return value_; }

  // Puts the next piece of at most `capacity` bytes into `buffer` and returns its length (0 at
  // the end). Sparse runs and bytes past the initialized size come back as zeros.
  // FileContent::kUnreadable when the volume cannot be read, kUndecodable when a compression
  // unit does not decompress; the position then stays where it was.
  int64_t ReadNext(uint8_t* buffer, size_t capacity);
  // Moves past the sparse run or the bytes past the initialized size that start at the
  // position, and returns their length; 0 when the position holds stored bytes (or the value
  // is resident or compressed).
  uint64_t SkipHole();
  // The bytes of the content in runs that are stored, up to the initialized size.
  uint64_t StoredBytes() const;

 private:
  // The run that holds cluster `vcn`, moving the cursor forward (reads go forward only).
  const DataRun* RunAt(uint64_t vcn);
  // A compressed value is read one compression unit at a time, decompressed into `unit_`.
  int64_t ReadCompressed(uint8_t* buffer, size_t capacity);
  // 0, or FileContent::kUnreadable / kUndecodable.
  int64_t LoadUnit(uint64_t unit);

  ByteSource& volume_;
  uint64_t bytes_per_cluster_;
  NtfsAttributeValue value_;
  uint64_t length_ = 0;
  uint64_t position_ = 0;
  size_t run_index_ = 0;
  std::vector<uint8_t> unit_;         // the decompressed unit
  uint64_t unit_index_ = UINT64_MAX;  // which unit `unit_` holds
};

}  // namespace kestrel
