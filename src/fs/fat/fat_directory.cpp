#include "fs/fat/fat_directory.h"

#include <iconv.h>

#include <algorithm>
#include <chrono>

#include "fs/file_name.h"
#include "platform/byte_order.h"
#include "platform/utf16_text.h"
#include "sources/scan_source.h"

namespace kestrel {
namespace {

// One OEM (code page 850) byte as UTF-8; "_" when the conversion is not available.
std::string OemByteToUtf8(uint8_t byte) {
  static iconv_t converter = iconv_open("UTF-8", "CP850");
  if (converter == reinterpret_cast<iconv_t>(-1)) return "_";
  char in[1] = {static_cast<char>(byte)};
  char out[8] = {};
  char* in_ptr = in;
  char* out_ptr = out;
  size_t in_left = 1;
  size_t out_left = sizeof out;
  iconv(converter, nullptr, nullptr, nullptr, nullptr);
  if (iconv(converter, &in_ptr, &in_left, &out_ptr, &out_left) == static_cast<size_t>(-1)) {
    return "_";
  }
  return std::string(out, sizeof out - out_left);
}

// The 13 UTF-16 units a long-name entry carries at bytes 1-10, 14-25 and 28-31.
void AppendLongNameUnits(const uint8_t* entry, std::vector<uint16_t>* units) {
  static constexpr size_t kOffsets[] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  for (size_t offset : kOffsets) units->push_back(LoadLe16(entry + offset));
}

}  // namespace

DirEntry ParseDirEntry(const uint8_t* bytes) {
  DirEntry e;
  std::copy(bytes, bytes + 8, e.name.begin());
  std::copy(bytes + 8, bytes + 11, e.extension.begin());
  e.attributes = bytes[11];
  e.cluster_high = LoadLe16(bytes + 20);
  e.cluster_low = LoadLe16(bytes + 26);
  e.times = {LoadLe16(bytes + 16), LoadLe16(bytes + 14), LoadLe16(bytes + 18), LoadLe16(bytes + 24),
             LoadLe16(bytes + 22)};
  e.size = uint32_t{bytes[28]} | (uint32_t{bytes[29]} << 8) | (uint32_t{bytes[30]} << 16) |
           (uint32_t{bytes[31]} << 24);
  return e;
}

std::optional<int64_t> FatTimestamp(uint16_t date, uint16_t time) {
  const int year = 1980 + (date >> 9);
  const unsigned month = (date >> 5) & 0x0F;
  const unsigned day = date & 0x1F;
  const std::chrono::year_month_day ymd{std::chrono::year(year), std::chrono::month(month),
                                        std::chrono::day(day)};
  if (date == 0 || !ymd.ok()) return std::nullopt;
  const int64_t days = std::chrono::sys_days(ymd).time_since_epoch().count();
  const int64_t seconds = (time >> 11) * 3600 + ((time >> 5) & 0x3F) * 60 + (time & 0x1F) * 2;
  return days * 86400 + seconds;
}

bool IsAllZeroEntry(const uint8_t* bytes) {
  return std::all_of(bytes, bytes + kDirEntryBytes, [](uint8_t b) { return b == 0; });
}

uint8_t ShortNameChecksum(const uint8_t* short_name) {
  uint8_t sum = 0;
  for (int i = 0; i < 11; ++i) {
    sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + short_name[i]);
  }
  return sum;
}

std::string ShortNamePart(const uint8_t* bytes, size_t length) {
  while (length > 0 && bytes[length - 1] == ' ') --length;
  std::string text;
  for (size_t i = 0; i < length; ++i) {
    const uint8_t b = bytes[i];
    if (b < 0x20 || b == 0x7F) {
      text += '_';
    } else if (b < 0x80) {
      text += static_cast<char>(b);
    } else {
      text += OemByteToUtf8(b);
    }
  }
  return text;
}

std::string ShortNameText(const DirEntry& entry) {
  std::string name = ShortNamePart(entry.name.data(), entry.name.size());
  std::string extension = ShortNamePart(entry.extension.data(), entry.extension.size());
  return extension.empty() ? name : name + "." + extension;
}

std::string LongNameToUtf8(const std::vector<uint16_t>& units) {
  std::string out;
  std::u16string piece;  // the units up to the next 0xFFFF, decoded together
  for (const uint16_t unit : units) {
    if (unit == 0x0000) break;
    if (unit == 0xFFFF) {
      out += Utf16ToUtf8(piece);
      piece.clear();
      continue;
    }
    piece.push_back(static_cast<char16_t>(unit));
  }
  return out + Utf16ToUtf8(piece);
}

void LongNameCollector::Add(const uint8_t* entry) {
  if (pieces_.size() == kMaxPieces) pieces_.erase(pieces_.begin());
  std::array<uint8_t, kDirEntryBytes> piece{};
  std::copy(entry, entry + kDirEntryBytes, piece.begin());
  pieces_.push_back(piece);
}

std::string LongNameCollector::Assemble() const {
  std::vector<uint16_t> units;
  for (auto it = pieces_.rbegin(); it != pieces_.rend(); ++it) {
    AppendLongNameUnits(it->data(), &units);
  }
  return LongNameToUtf8(units);
}

bool LongNameCollector::MatchesShortName(const uint8_t* short_name, bool first_byte_lost) const {
  auto all_carry = [this](uint8_t sum) {
    return std::all_of(pieces_.begin(), pieces_.end(),
                       [sum](const auto& piece) { return piece[13] == sum; });
  };
  if (!first_byte_lost) return all_carry(ShortNameChecksum(short_name));
  std::array<uint8_t, 11> name{};
  std::copy(short_name, short_name + 11, name.begin());
  for (int first = 0; first < 256; ++first) {
    name[0] = static_cast<uint8_t>(first);
    if (all_carry(ShortNameChecksum(name.data()))) return true;
  }
  return false;
}

DirectoryLocation RootDirectory(const FatVolumeInfo& info) {
  if (info.fat_type == FatType::kFat32) return {false, info.root_cluster};
  return {true, 0};
}

bool ReadDirectory(FatVolume& volume, DirectoryLocation where, std::vector<uint8_t>* bytes) {
  const FatVolumeInfo& info = volume.info();
  bytes->clear();
  if (where.fixed_root) {
    const uint64_t length =
        std::min<uint64_t>(info.root_dir_sectors * kSectorBytes, kMaxDirectoryBytes);
    bytes->resize(static_cast<size_t>(length));
    if (length == 0) return true;
    const int64_t got = volume.source().ReadAt(info.root_dir_start_sector * kSectorBytes,
                                               bytes->data(), bytes->size());
    if (got <= 0) {
      bytes->clear();
      return false;
    }
    bytes->resize(static_cast<size_t>(got) / kDirEntryBytes * kDirEntryBytes);
    return true;
  }
  const size_t cluster_bytes = info.BytesPerCluster();
  const size_t max_clusters = std::max<size_t>(1, kMaxDirectoryBytes / cluster_bytes);
  for (uint32_t cluster : volume.Chain(where.first_cluster, max_clusters)) {
    const size_t at = bytes->size();
    bytes->resize(at + cluster_bytes);
    if (!volume.ReadCluster(cluster, bytes->data() + at)) {
      bytes->resize(at);
      break;
    }
  }
  return !bytes->empty();
}

std::vector<LiveSubdirectory> LiveSubdirectories(const std::vector<uint8_t>& directory,
                                                 FatType type) {
  std::vector<LiveSubdirectory> found;
  LongNameCollector long_name;
  for (size_t at = 0; at + kDirEntryBytes <= directory.size(); at += kDirEntryBytes) {
    const uint8_t* bytes = directory.data() + at;
    if (bytes[0] == 0) break;  // the end of the directory's entries
    const DirEntry entry = ParseDirEntry(bytes);
    if (entry.IsDeleted()) {
      long_name.Clear();
      continue;
    }
    if (entry.IsLongName()) {
      long_name.Add(bytes);
      continue;
    }
    if (entry.IsDirectory() && !entry.IsDot() && !entry.IsVolumeLabel()) {
      std::string name;
      if (long_name.pending() && long_name.MatchesShortName(bytes)) name = long_name.Assemble();
      if (name.empty()) name = ShortNameText(entry);
      found.push_back({Utf8FileName(name), entry.FirstCluster(type)});
    }
    long_name.Clear();
  }
  return found;
}

}  // namespace kestrel
