#pragma once
// An NTFS volume as the deleted-files recovery reads it: the boot sector's geometry and the
// whole master file table in memory, from which file records are parsed one by one.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fs/ntfs/ntfs_data_reader.h"
#include "fs/ntfs/ntfs_record.h"
#include "platform/byte_source.h"

namespace kestrel {

// What one file record tells the recovery loop.
struct NtfsFileDetail {
  std::string name;            // the $FILE_NAME name in UTF-8
  bool named = false;          // the record has a $FILE_NAME (its name may still be empty)
  uint64_t creation_time = 0;  // FILETIMEs from $STANDARD_INFORMATION
  uint64_t modification_time = 0;
  uint64_t mft_change_time = 0;
  uint64_t access_time = 0;
  uint32_t flags = 0;             // $FILE_NAME flags; kFileNameDirectoryFlag marks a directory
  uint64_t clusters = 1;          // allocated size / cluster size, at least 1
  bool deleted = false;           // the record is not in use
  bool directory = false;         // the name's directory flag or the record's directory flag
  bool extension = false;         // an extension record of another file, not a file itself
  uint64_t parent_reference = 0;  // the $FILE_NAME's folder: record number, sequence on top
  uint16_t sequence = 0;          // the record's own sequence number
};

// Bytes of one file record from the boot sector's clusters-per-record byte: a negative value
// v means 2^(-v) bytes, a positive one that many clusters (0 for 0 or an absurd power).
uint64_t NtfsRecordBytes(uint8_t clusters_per_record, uint32_t bytes_per_cluster);

class NtfsDrive {
 public:
  // `volume` starts at the volume's boot sector and is not owned.
  explicit NtfsDrive(ByteSource& volume) : volume_(volume) {}

  // Told the bytes loaded so far and the total between pieces of the MFT; false cancels.
  using Progress = std::function<bool(uint64_t done, uint64_t total)>;

  // Reads the boot sector and loads the MFT whole. 0, or 15 (not NTFS), 87 (unusable geometry
  // or a damaged record 0), 1200 (record 0 is not $MFT), 30 (a read failed), 8 (no memory for
  // the MFT), 1 (cancelled). The allocation never exceeds the MFT's size, which never exceeds
  // the volume's.
  int LoadMft(const Progress& progress = {});

  ByteSource& volume() const { return volume_; }
  bool loaded() const { return loaded_; }
  uint32_t bytes_per_cluster() const { return bytes_per_cluster_; }
  uint32_t record_size() const { return record_size_; }
  uint64_t volume_clusters() const { return volume_clusters_; }
  // Records in the loaded MFT.
  uint64_t record_count() const { return record_size_ ? mft_.size() / record_size_ : 0; }

  // 0, 12 (not loaded), 18 (beyond the MFT) or 87 (not a usable file record).
  int GetFileDetail(uint64_t record_number, NtfsFileDetail* detail);

  // The record's unnamed $DATA content, ready to be read piece by piece; extents in other
  // records are followed through its attribute list. 0, 12, 18, 30, or 87 (not a usable file
  // record, no unnamed $DATA, or an attribute list whose extents do not fit together).
  int ReadFileData(uint64_t record_number, std::optional<NtfsDataReader>* data);

  // Reads the boot sector and one of the system files' records (0..15, which lie in the MFT's
  // first run) through $MFT's own runs, without loading the MFT; its unnamed $DATA ready to be
  // read. 0, or the errors of LoadMft (87 also for a record past the system files or without
  // unnamed $DATA).
  int ReadSystemFileData(uint64_t record_number, std::optional<NtfsDataReader>* data);

 private:
  int ReadGeometry();
  // Reads the boot sector and $MFT's own record: a reader of the MFT's content through its runs.
  // 0, or the errors of LoadMft before its content is read.
  int OpenMft(std::optional<NtfsDataReader>* mft);
  int ParseLoadedRecord(uint64_t record_number, bool want_data);
  int ReadMftContent(NtfsDataReader& reader, const Progress& progress);
  int ReadListEntries(const NtfsAttributeValue& list,
                      std::vector<std::pair<uint64_t, uint64_t>>* extents);
  int GatherExtents(uint64_t record_number, const NtfsAttributeValue& list,
                    std::optional<NtfsAttributeValue>* value);

  ByteSource& volume_;
  uint32_t bytes_per_cluster_ = 0;
  uint32_t record_size_ = 0;
  uint64_t volume_bytes_ = 0;
  uint64_t volume_clusters_ = 0;
  uint64_t mft_cluster_ = 0;
  std::vector<uint8_t> record_buffer_;
  std::vector<uint8_t> mft_;
  MftRecord record_;
  bool loaded_ = false;
};

}  // namespace kestrel
