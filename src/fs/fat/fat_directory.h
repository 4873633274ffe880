#pragma once
// FAT directory entries: the 32-byte short entry, long names (UTF-16 pieces in long-name entries,
// decoded to UTF-8), and the reading of a whole directory.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fs/fat/fat_volume.h"

namespace kestrel {

inline constexpr size_t kDirEntryBytes = 32;
inline constexpr uint8_t kDeletedMark = 0xE5;
// FAT directories hold at most 65536 entries.
inline constexpr size_t kMaxDirectoryBytes = 65536 * kDirEntryBytes;

namespace fat_attr {
inline constexpr uint8_t kReadOnly = 0x01;
inline constexpr uint8_t kHidden = 0x02;
inline constexpr uint8_t kSystem = 0x04;
inline constexpr uint8_t kVolumeLabel = 0x08;
inline constexpr uint8_t kDirectory = 0x10;
inline constexpr uint8_t kArchive = 0x20;
inline constexpr uint8_t kLongName = 0x0F;
}  // namespace fat_attr

// One 32-byte directory entry, decoded.
// The dates and times of a directory entry as stored (0: not recorded).
struct FatEntryTimes {
  uint16_t created_date = 0;
  uint16_t created_time = 0;
  uint16_t accessed_date = 0;
  uint16_t modified_date = 0;
  uint16_t modified_time = 0;
};

// A FAT date and time (two-second steps) as seconds since 1970 read as UTC; nothing for a date
// that is 0 or names no day.
std::optional<int64_t> FatTimestamp(uint16_t date, uint16_t time);

struct DirEntry {
  std::array<uint8_t, 8> name{};
  std::array<uint8_t, 3> extension{};
  uint8_t attributes = 0;
  uint16_t cluster_high = 0;
  uint16_t cluster_low = 0;
  uint32_t size = 0;
  FatEntryTimes times;

  bool IsDeleted() const { return name[0] == kDeletedMark; }
  bool IsDot() const { return name[0] == '.'; }
  bool IsLongName() const { return attributes == fat_attr::kLongName; }
  bool IsDirectory() const { return !IsLongName() && (attributes & fat_attr::kDirectory) != 0; }
  bool IsVolumeLabel() const { return !IsLongName() && (attributes & fat_attr::kVolumeLabel) != 0; }
  // First cluster: the low half on FAT12/16, both halves on FAT32.
  uint32_t FirstCluster(FatType type) const {
    return type == FatType::kFat32 ? (uint32_t{cluster_high} << 16) | cluster_low : cluster_low;
  }
};

DirEntry ParseDirEntry(const uint8_t* bytes);
bool IsAllZeroEntry(const uint8_t* bytes);
// The checksum of an 11-byte short name that its long-name entries carry.
uint8_t ShortNameChecksum(const uint8_t* short_name);

// Short-name bytes as UTF-8 text with trailing blanks removed. Bytes above 0x7F are read in code
// page 850; control characters become '_'.
std::string ShortNamePart(const uint8_t* bytes, size_t length);
// "NAME.EXT" (or "NAME" when the extension is blank).
std::string ShortNameText(const DirEntry& entry);

// A long name's UTF-16 code units as UTF-8, as read: stops at a NUL unit, skips 0xFFFF padding,
// replaces unpaired surrogates with U+FFFD (Utf8FileName makes it a name to write).
std::string LongNameToUtf8(const std::vector<uint16_t>& units);

// Collects the long-name entries in front of a short entry. Entries are stored in the order met
// (the last piece of the name first) and assembled in reverse; a name has at most 20 pieces, and
// older pieces beyond that are dropped.
class LongNameCollector {
 public:
  void Add(const uint8_t* entry);
  bool pending() const { return !pieces_.empty(); }
  void Clear() { pieces_.clear(); }
  // The name as UTF-8.
  std::string Assemble() const;
  // Whether every stored piece carries the checksum of `short_name` (11 bytes). With
  // `first_byte_lost` (a deleted entry), any first byte may have been there.
  bool MatchesShortName(const uint8_t* short_name, bool first_byte_lost = false) const;

 private:
  static constexpr size_t kMaxPieces = 20;
  std::vector<std::array<uint8_t, kDirEntryBytes>> pieces_;
};

// Where a directory lies: the fixed root region of FAT12/16, or a cluster chain.
struct DirectoryLocation {
  bool fixed_root = false;
  uint32_t first_cluster = 0;
};

// The root directory of the volume.
DirectoryLocation RootDirectory(const FatVolumeInfo& info);

// Reads a whole directory: the root region (all its sectors) or every cluster of the chain, up
// to the largest size a FAT directory can have. False when nothing could be read; a chain whose
// later cluster fails to read ends there.
bool ReadDirectory(FatVolume& volume, DirectoryLocation where, std::vector<uint8_t>* bytes);

// A live (not deleted) subdirectory, with its long name or short name as a kept folder is named
// (Utf8FileName).
struct LiveSubdirectory {
  std::string name;
  uint32_t first_cluster = 0;
};

// The live subdirectories in directory bytes, dot entries left out.
std::vector<LiveSubdirectory> LiveSubdirectories(const std::vector<uint8_t>& directory,
                                                 FatType type);

}  // namespace kestrel
