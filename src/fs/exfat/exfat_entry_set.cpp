#include "fs/exfat/exfat_entry_set.h"

#include "fs/fat/fat_directory.h"
#include "platform/byte_order.h"
#include "platform/utf16_text.h"

namespace kestrel {
namespace {

constexpr uint8_t kNoFatChain = 0x02;  // GeneralSecondaryFlags bit 1
constexpr uint16_t kDirectoryAttribute = 0x10;
constexpr size_t kNameCharsPerEntry = 15;

// The name's UTF-16 units from the File Name entries after the stream.
std::u16string NameUnits(const std::vector<ExfatRawEntry>& entries, size_t length) {
  std::u16string units;
  for (size_t entry = 2; units.size() < length; ++entry) {
    for (size_t i = 0; i < kNameCharsPerEntry && units.size() < length; ++i) {
      units.push_back(static_cast<char16_t>(LoadLe16(entries[entry].data() + 2 + 2 * i)));
    }
  }
  return units;
}

}  // namespace

uint16_t ExfatSetChecksum(const std::vector<ExfatRawEntry>& entries) {
  uint16_t checksum = 0;
  for (size_t e = 0; e < entries.size(); ++e) {
    for (size_t i = 0; i < kExfatEntryBytes; ++i) {
      if (e == 0 && (i == 2 || i == 3)) continue;
      // A deletion cleared the in-use bits after the checksum was made: it counts them set.
      const uint8_t byte = i == 0 ? entries[e][0] | exfat_entry::kInUse : entries[e][i];
      checksum = static_cast<uint16_t>(((checksum & 1) != 0 ? 0x8000 : 0) + (checksum >> 1) + byte);
    }
  }
  return checksum;
}

std::optional<ExfatEntrySet> ParseExfatEntrySet(const std::vector<ExfatRawEntry>& entries) {
  if (entries.size() < 3 || !IsFileEntry(entries[0][0])) return std::nullopt;
  const uint8_t* file = entries[0].data();
  const uint8_t* stream = entries[1].data();
  const uint8_t in_use = file[0] & exfat_entry::kInUse;
  const size_t secondaries = file[1];
  const size_t name_length = stream[3];
  const size_t name_entries = (name_length + kNameCharsPerEntry - 1) / kNameCharsPerEntry;
  if (secondaries + 1 != entries.size() || secondaries < 2 || secondaries > kMaxSecondaryEntries ||
      name_length == 0 || secondaries < 1 + name_entries) {
    return std::nullopt;
  }
  if (stream[0] != ((exfat_entry::kStream & 0x7F) | in_use)) return std::nullopt;
  for (size_t i = 2; i < 2 + name_entries; ++i) {
    if (entries[i][0] != ((exfat_entry::kFileName & 0x7F) | in_use)) return std::nullopt;
  }
  if (LoadLe16(file + 2) != ExfatSetChecksum(entries)) return std::nullopt;
  ExfatEntrySet set;
  set.in_use = in_use != 0;
  set.attributes = LoadLe16(file + 4);
  set.directory = (set.attributes & kDirectoryAttribute) != 0;
  set.name = Utf16ToUtf8(NameUnits(entries, name_length));
  set.no_fat_chain = (stream[1] & kNoFatChain) != 0;
  set.valid_length = LoadLe64(stream + 8);
  set.first_cluster = LoadLe32(stream + 20);
  set.data_length = LoadLe64(stream + 24);
  if (set.valid_length > set.data_length) return std::nullopt;
  set.times.created = ExfatTimestamp(LoadLe32(file + 8), file[20], file[22]);
  set.times.modified = ExfatTimestamp(LoadLe32(file + 12), file[21], file[23]);
  set.times.accessed = ExfatTimestamp(LoadLe32(file + 16), 0, file[24]);
  return set;
}

std::optional<int64_t> ExfatTimestamp(uint32_t stamp, uint8_t increment_10ms, uint8_t utc_offset) {
  std::optional<int64_t> local =
      FatTimestamp(static_cast<uint16_t>(stamp >> 16), static_cast<uint16_t>(stamp & 0xFFFF));
  if (!local) return std::nullopt;
  // The increment adds up to 1.99 s to the two-second steps; whole seconds are kept.
  if (increment_10ms < 200) *local += increment_10ms / 100;
  if ((utc_offset & 0x80) != 0) {
    // A 7-bit two's complement count of 15 minutes: local time = UTC + offset.
    const int quarters = (utc_offset & 0x40) != 0 ? (utc_offset & 0x7F) - 128 : utc_offset & 0x7F;
    *local -= int64_t{quarters} * 15 * 60;
  }
  return local;
}

}  // namespace kestrel
