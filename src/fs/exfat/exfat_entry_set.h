#pragma once
// exFAT directory entry sets: a File entry (0x85, 0x05 once deleted), its Stream Extension
// (0xC0 / 0x40) and its File Name entries (0xC1 / 0x41), checked by the set's checksum. A
// deletion clears the in-use bit (0x80) of every entry of the set and leaves the rest.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fs/file_system.h"

namespace kestrel {

inline constexpr size_t kExfatEntryBytes = 32;
using ExfatRawEntry = std::array<uint8_t, kExfatEntryBytes>;

namespace exfat_entry {
inline constexpr uint8_t kEndOfDirectory = 0x00;
inline constexpr uint8_t kInUse = 0x80;
inline constexpr uint8_t kFile = 0x85;
inline constexpr uint8_t kStream = 0xC0;
inline constexpr uint8_t kFileName = 0xC1;
inline constexpr uint8_t kAllocationBitmap = 0x81;
}  // namespace exfat_entry

// A File entry, in use or deleted.
inline bool IsFileEntry(uint8_t type) {
  return (type | exfat_entry::kInUse) == exfat_entry::kFile;
}

// One entry set read from a folder.
struct ExfatEntrySet {
  bool in_use = false;
  bool directory = false;
  uint16_t attributes = 0;  // read-only 0x01, hidden 0x02, system 0x04, folder 0x10, archive 0x20
  std::string name;         // UTF-8
  bool no_fat_chain = false;
  uint32_t first_cluster = 0;
  uint64_t valid_length = 0;  // bytes written; the rest up to `data_length` reads as zeros
  uint64_t data_length = 0;
  FileTimes times;
};

// Secondary entries a set has at most (a stream and 17 name entries for 255 characters).
inline constexpr uint8_t kMaxSecondaryEntries = 18;

// The set's checksum over all its entries, bytes 2-3 of the first (the checksum) left out, with
// the in-use bits counted as set (as they were when the set was written).
uint16_t ExfatSetChecksum(const std::vector<ExfatRawEntry>& entries);

// The set that `entries` (a File entry and exactly its secondary count of entries after it)
// make: the checksum agrees; the secondary count is at least 2 and holds the stream and the
// name entries; the stream follows the File entry and the name entries follow the stream,
// with the same in-use bit; the name has 1 to 255 characters; the valid length does not pass
// the data length. Nothing otherwise.
std::optional<ExfatEntrySet> ParseExfatEntrySet(const std::vector<ExfatRawEntry>& entries);

// An exFAT timestamp (a DOS date and time) with its 10 ms increment and its UTC offset byte
// (bit 7: valid; bits 0-6: signed quarters of an hour) as seconds since 1970 UTC; a time
// without a valid offset is read as UTC. Nothing for an impossible date.
std::optional<int64_t> ExfatTimestamp(uint32_t stamp, uint8_t increment_10ms, uint8_t utc_offset);

}  // namespace kestrel
