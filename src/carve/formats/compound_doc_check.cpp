#include "carve/formats/compound_doc_check.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "carve/formats/compound_doc_layout.h"
#include "carve/formats/compound_doc_streams.h"
#include "carve/formats/file_window.h"
#include "platform/byte_order.h"

namespace kestrel {
namespace {

using namespace cfb;

constexpr uint32_t kMiniSectorBytes = 64;
constexpr uint64_t kMaxSectors = uint64_t{4} << 20;
constexpr uint64_t kMaxEntries = 100000;
constexpr size_t kTableWindowBytes = 4096;
constexpr uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

// The streams the record checks read, by their names in the root storage.
enum class Named : uint8_t {
  kOther,
  kWordDocument,
  kTable0,
  kTable1,
  kWorkbook,
  kBook,
  kPowerPoint,
  kCurrentUser,
  kCount
};
constexpr std::array<std::pair<Named, std::string_view>, 7> kNames = {{
    {Named::kWordDocument, "WordDocument"},
    {Named::kTable0, "0Table"},
    {Named::kTable1, "1Table"},
    {Named::kWorkbook, "Workbook"},
    {Named::kBook, "Book"},
    {Named::kPowerPoint, "PowerPoint Document"},
    {Named::kCurrentUser, "Current User"},
}};

// Which of the streams the record checks read the entry names.
Named NameOf(const uint8_t* entry) {
  for (const auto& [named, name] : kNames) {
    if (EntryNamed(entry, name)) return named;
  }
  return Named::kOther;
}

struct Entry {
  uint8_t type = kUnused;
  Named name = Named::kOther;
  uint32_t left = kNoEntry, right = kNoEntry, child = kNoEntry;
  uint32_t start = 0;
  uint64_t size = 0;
};

// A table of next units (the FAT, or the MiniFAT) and the units chains have taken so far.
struct Allocation {
  std::vector<uint32_t> next;
  std::vector<bool> taken;

  void Reset(uint64_t units) {
    next.assign(units, kFreeSect);
    taken.assign(units, false);
  }
  // Takes a unit that lies inside the table and no chain has taken yet.
  bool Take(uint32_t unit) {
    if (unit >= next.size() || taken[unit]) return false;
    taken[unit] = true;
    return true;
  }
  // Takes the `count` units of the chain from `first`, which must end right after them; the
  // units go to `units` when given.
  bool TakeChain(uint32_t first, uint64_t count, std::vector<uint32_t>* units) {
    uint32_t at = first;
    for (uint64_t i = 0; i < count; ++i) {
      if (!Take(at)) return false;
      if (units != nullptr) units->push_back(at);
      at = next[at];
    }
    return at == kEndOfChain;
  }
  // Takes the chain from `first` to its end (none when `first` ends it), at most `max` units.
  Whole TakeOpenChain(uint32_t first, uint64_t max, std::vector<uint32_t>* units) {
    for (uint32_t at = first; at != kEndOfChain; at = next[at]) {
      if (units->size() == max) return Whole::kUnchecked;
      if (!Take(at)) return Whole::kNo;
      units->push_back(at);
    }
    return Whole::kYes;
  }
};

uint64_t UnitsFor(uint64_t bytes, uint32_t unit) {
  return bytes / unit + (bytes % unit != 0 ? 1 : 0);
}

// Where a stream's bytes lie.
struct StreamPlace {
  bool found = false, mini = false;
  uint64_t size = 0;
  std::vector<uint32_t> units;
};

class CompoundCheck {
 public:
  CompoundCheck(ByteSource& source, uint64_t start, uint64_t length)
      : file_(source, start, length), tables_(source, start, length, kTableWindowBytes) {}

  Whole Run() {
    for (Whole (CompoundCheck::*step)() :
         {&CompoundCheck::ReadHeader, &CompoundCheck::ReadFat, &CompoundCheck::ReadDirectory,
          &CompoundCheck::ReadMiniFat, &CompoundCheck::CheckStreams}) {
      const Whole done = (this->*step)();
      if (done != Whole::kYes) return done;
    }
    return CheckMainStream();
  }

 private:
  Whole ReadHeader() {
    if (!file_.Read(0, header_.data(), kHeaderBytes) ||
        std::memcmp(header_.data(), kSignature, sizeof kSignature) != 0 ||
        LoadLe16(&header_[0x1C]) != 0xFFFE) {
      return Whole::kNo;
    }
    const uint16_t shift = LoadLe16(&header_[0x1E]);
    if ((shift != 9 && shift != 12) || LoadLe16(&header_[0x20]) != 6 ||
        LoadLe32(&header_[0x38]) != kMiniStreamCutoff) {
      return Whole::kUnchecked;
    }
    sector_bytes_ = uint32_t{1} << shift;
    block_.resize(sector_bytes_);
    if (file_.length() < 2 * uint64_t{sector_bytes_}) return Whole::kNo;
    sectors_ = file_.length() / sector_bytes_ - 1;
    return sectors_ > kMaxSectors ? Whole::kUnchecked : Whole::kYes;
  }

  uint32_t EntriesPerSector() const { return sector_bytes_ / 4; }

  // Reads file sector `k` (of the FAT, the DIFAT, the MiniFAT or the directory) into block_.
  bool ReadSector(uint32_t k) {
    return tables_.Read((uint64_t{k} + 1) * sector_bytes_, block_.data(), sector_bytes_);
  }

  // The FAT sectors the header and the DIFAT chain name, then the FAT they hold.
  Whole ReadFat() {
    fat_.Reset(sectors_);
    const uint32_t count = LoadLe32(&header_[kFatCountOffset]);
    if (count == 0 || count > sectors_) return Whole::kNo;
    std::vector<uint32_t> fat_sectors;
    for (size_t i = 0; i < std::min<size_t>(count, kHeaderFatEntries); ++i) {
      fat_sectors.push_back(LoadLe32(&header_[kHeaderFatOffset + 4 * i]));
    }
    const uint32_t per = EntriesPerSector();
    for (uint32_t difat = LoadLe32(&header_[kDifatStartOffset]); fat_sectors.size() < count;) {
      if (!fat_.Take(difat) || !ReadSector(difat)) return Whole::kNo;
      for (uint32_t j = 0; j + 1 < per && fat_sectors.size() < count; ++j) {
        fat_sectors.push_back(LoadLe32(&block_[4 * j]));
      }
      difat = LoadLe32(&block_[4 * (per - 1)]);
    }
    for (size_t j = 0; j < fat_sectors.size(); ++j) {
      if (!fat_.Take(fat_sectors[j]) || !ReadSector(fat_sectors[j])) return Whole::kNo;
      for (uint32_t k = 0; k < per && j * per + k < sectors_; ++k) {
        fat_.next[j * per + k] = LoadLe32(&block_[4 * k]);
      }
    }
    return Whole::kYes;
  }

  Whole ReadDirectory() {
    std::vector<uint32_t> sectors;
    const uint64_t max = kMaxEntries * kEntryBytes / sector_bytes_ + 1;
    const Whole chain = fat_.TakeOpenChain(LoadLe32(&header_[kDirectoryOffset]), max, &sectors);
    if (chain != Whole::kYes) return chain;
    for (uint32_t sector : sectors) {
      if (!ReadSector(sector)) return Whole::kNo;
      for (size_t at = 0; at < sector_bytes_; at += kEntryBytes) {
        if (!TakeEntry(&block_[at])) return Whole::kNo;
      }
    }
    if (entries_.empty() || entries_[0].type != kRoot) return Whole::kNo;
    return Whole::kYes;
  }

  bool TakeEntry(const uint8_t* e) {
    Entry entry;
    entry.type = e[66];
    if (entry.type == kUnused) {
      entries_.push_back(entry);
      return true;
    }
    const uint16_t name_bytes = LoadLe16(e + 64);
    if ((entry.type != kStorage && entry.type != kStream && entry.type != kRoot) ||
        name_bytes > 64 || name_bytes % 2 != 0) {
      return false;
    }
    entry.name = NameOf(e);
    entry.left = LoadLe32(e + 68);
    entry.right = LoadLe32(e + 72);
    entry.child = LoadLe32(e + 76);
    entry.start = LoadLe32(e + 116);
    // Documents with 512-byte sectors give 32-bit sizes (the high half may hold anything).
    entry.size = sector_bytes_ == 512 ? LoadLe32(e + 120) : LoadLe64(e + 120);
    entries_.push_back(entry);
    return true;
  }

  // The MiniFAT's chain and entries, and the mini stream's chain (the root entry's).
  Whole ReadMiniFat() {
    const Entry& root = entries_[0];
    if (root.size != 0 &&
        !fat_.TakeChain(root.start, UnitsFor(root.size, sector_bytes_), &root_units_)) {
      return Whole::kNo;
    }
    const uint64_t mini_units = UnitsFor(root.size, kMiniSectorBytes);
    if (mini_units > kMaxSectors) return Whole::kUnchecked;
    std::vector<uint32_t> sectors;
    const uint32_t first = LoadLe32(&header_[0x3C]);
    if (!(first == kFreeSect && LoadLe32(&header_[0x40]) == 0)) {
      const Whole chain = fat_.TakeOpenChain(first, sectors_, &sectors);
      if (chain != Whole::kYes) return chain;
    }
    const uint32_t per = EntriesPerSector();
    mini_.Reset(std::min<uint64_t>(mini_units, uint64_t{per} * sectors.size()));
    for (size_t j = 0; j < sectors.size(); ++j) {
      if (!ReadSector(sectors[j])) return Whole::kNo;
      for (uint32_t k = 0; k < per && j * per + k < mini_.next.size(); ++k) {
        mini_.next[j * per + k] = LoadLe32(&block_[4 * k]);
      }
    }
    return Whole::kYes;
  }

  // The entry tree from the root: every entry it reaches is used and reached once, and every
  // stream in it has its whole chain.
  Whole CheckStreams() {
    std::vector<bool> reached(entries_.size(), false);
    std::vector<std::pair<uint32_t, bool>> pending = {{entries_[0].child, true}};
    while (!pending.empty()) {
      const auto [id, in_root] = pending.back();
      pending.pop_back();
      if (id == kNoEntry) continue;
      if (id == 0 || id >= entries_.size() || reached[id]) return Whole::kNo;
      reached[id] = true;
      const Entry& entry = entries_[id];
      if (entry.type != kStorage && entry.type != kStream) return Whole::kNo;
      pending.push_back({entry.left, in_root});
      pending.push_back({entry.right, in_root});
      if (entry.type == kStorage) pending.push_back({entry.child, false});
      if (entry.type == kStream && !TakeStream(entry, in_root)) return Whole::kNo;
    }
    return Whole::kYes;
  }

  // Takes the chain of a stream; the places of the root storage's named streams are kept.
  bool TakeStream(const Entry& entry, bool in_root) {
    if (entry.size == 0) return true;
    StreamPlace* place = nullptr;
    if (in_root && entry.name != Named::kOther) {
      place = &places_[static_cast<size_t>(entry.name)];
      place->found = true;
      place->size = entry.size;
      place->mini = entry.size < kMiniStreamCutoff;
    }
    std::vector<uint32_t>* units = place != nullptr ? &place->units : nullptr;
    if (entry.size < kMiniStreamCutoff) {
      return mini_.TakeChain(entry.start, UnitsFor(entry.size, kMiniSectorBytes), units);
    }
    return fat_.TakeChain(entry.start, UnitsFor(entry.size, sector_bytes_), units);
  }

  std::optional<CompoundStream> Open(Named name, CompoundStream& mini_stream) {
    StreamPlace& place = places_[static_cast<size_t>(name)];
    if (!place.found) return std::nullopt;
    if (place.mini) {
      return CompoundStream(mini_stream, kMiniSectorBytes, place.size, std::move(place.units));
    }
    return CompoundStream(file_, sector_bytes_, place.size, std::move(place.units));
  }

  Whole CheckMainStream() {
    CompoundStream mini_stream(file_, sector_bytes_, entries_[0].size, root_units_);
    if (auto word = Open(Named::kWordDocument, mini_stream)) {
      auto table0 = Open(Named::kTable0, mini_stream);
      auto table1 = Open(Named::kTable1, mini_stream);
      return CheckWordStream(*word, table0 ? &*table0 : nullptr, table1 ? &*table1 : nullptr);
    }
    auto workbook = Open(Named::kWorkbook, mini_stream);
    if (!workbook) workbook = Open(Named::kBook, mini_stream);
    if (workbook) return CheckWorkbookStream(*workbook);
    if (auto document = Open(Named::kPowerPoint, mini_stream)) {
      auto current_user = Open(Named::kCurrentUser, mini_stream);
      return CheckPowerPointStream(*document, current_user ? &*current_user : nullptr);
    }
    return Whole::kUnchecked;
  }

  FileWindow file_;    // the streams' data
  FileWindow tables_;  // sectors of the tables, which may lie scattered: a small window
  std::array<uint8_t, kHeaderBytes> header_{};
  std::vector<uint8_t> block_;
  uint32_t sector_bytes_ = 512;
  uint64_t sectors_ = 0;  // whole sectors of the file after the header
  Allocation fat_, mini_;
  std::vector<Entry> entries_;
  std::vector<uint32_t> root_units_;
  std::array<StreamPlace, static_cast<size_t>(Named::kCount)> places_;
};

}  // namespace

bool EntryNamed(const uint8_t* entry, std::string_view name) {
  const uint16_t bytes = LoadLe16(entry + 64);  // the name's length with its terminating NUL
  if (bytes != 2 * (name.size() + 1)) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    if (entry[2 * i] != static_cast<uint8_t>(name[i]) || entry[2 * i + 1] != 0) return false;
  }
  return true;
}

Whole CheckCompoundDoc(ByteSource& source, uint64_t start, uint64_t length) {
  return CompoundCheck(source, start, length).Run();
}

}  // namespace kestrel
