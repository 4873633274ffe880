#include "carve/formats/compound_doc_fragment_walk.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <initializer_list>
#include <map>
#include <string_view>
#include <tuple>
#include <utility>

#include "carve/formats/compound_doc_biff_cursor.h"
#include "carve/formats/compound_doc_check.h"
#include "carve/formats/compound_doc_layout.h"
#include "carve/formats/compound_doc_reassembly.h"
#include "carve/formats/compound_doc_streams.h"
#include "carve/formats/compound_doc_thumbnail_rows.h"
#include "platform/byte_order.h"

namespace kestrel {
namespace {

using namespace cfb;

constexpr uint64_t kReachUnits = 256;
constexpr uint64_t kMaxWindowBytes = uint64_t{4} << 20;
constexpr uint32_t kMaxChecks = 32;
constexpr uint64_t kCheckBytesPerLength = 16;
constexpr uint64_t kMaxTries = 65536;
constexpr uint32_t kMaxScans = 16;
constexpr size_t kMaxJumps = 4;
// Records a unit found across the window must carry on with: a unit that ends the walk sooner
// (one long record) does not show that it goes on.
constexpr uint64_t kMinJumpRecords = 8;
// UTF-16 characters of a Word document's text a unit must hold to be judged by them.
constexpr uint64_t kMinTextPairs = 64;
// Paragraph ends a unit found across the window must show marks at.
constexpr uint64_t kMinJumpMarks = 2;
// Paragraph pages read for their paragraph ends.
constexpr uint64_t kMaxParagraphPages = 1024;
// Units of the window a Word document's FIB may stand in alike (near-identical documents) for
// judging its piece table before the FIB's own unit is placed.
constexpr size_t kMaxFibs = 4;
// The FIB's end of the stream's meaningful bytes (cbMac).
constexpr size_t kWordStreamEnd = 0x40;
// A longer piece table does not judge the units it lies in.
constexpr uint64_t kMaxPieceTableBytes = 65536;
constexpr size_t kNowhere = ~size_t{0};
constexpr uint64_t kNoUnit = ~uint64_t{0};
constexpr uint32_t kMinAnchorLinks = 2;
// Places a unit of FAT sectors may stand alike, and choices of them tried, for the directory to
// tell which is the document's.
constexpr size_t kMaxFatChoices = 4;
// Bytes of a thumbnail's rows a unit must hold against rows above inside it to be judged by
// them, and the mean difference (per byte) from which they are noise.
constexpr uint64_t kMinInnerRowPairs = 1024;
constexpr uint64_t kNoiseRowDifference = 64;
// The mean difference (per byte) from the rows above a cut from which the rows do not go on there.
constexpr uint64_t kMaxCutRowDifference = 72;
// Units of noise a gap inside a thumbnail is looked past.
constexpr size_t kMaxNoiseUnits = 16;
// Units two runs are followed for where their bytes are the same, inside a thumbnail.
constexpr size_t kMaxRowLookahead = 64;

// The workbook stream's records followed so far, and the file unit whose bytes they wait for.
struct Records {
  BiffCursor cursor;
  uint64_t waiting = kNoUnit;
};

class CompoundFragmentWalk {
 public:
  CompoundFragmentWalk(ByteSource& source, uint64_t start, const ByteUnits& units)
      : source_(source), start_(start), units_(units), unit_(units.bytes) {}

  // The FAT and the directory, found in one arrangement.
  bool FindTables() { return ReadWindow() && ReadHeader() && FindFatAndDirectory(); }

  bool Run(std::vector<FilePiece>* pieces) {
    if (!FindTables()) return false;
    FindStreams();
    place_.assign(file_units_, kNowhere);
    for (const auto& [file_unit, window_unit] : anchors_) place_[file_unit] = window_unit;
    Place(0, Records{});
    if (passed_ != 1 || exhausted_) return false;
    *pieces = found_;
    return true;
  }

  const std::vector<uint8_t>& directory() const { return directory_; }

 private:
  bool ReadWindow() {
    if (unit_ == 0 || units_.BoundaryFrom(start_) != start_ || start_ >= source_.Size()) {
      return false;
    }
    const uint64_t reach = std::min(kReachUnits, kMaxWindowBytes / (2 * unit_));
    if (reach == 0) return false;
    const uint64_t before = std::min(reach, start_ / unit_);
    low_ = start_ - before * unit_;
    const uint64_t high = std::min(source_.Size(), start_ + (reach + 1) * unit_);
    window_.resize(static_cast<size_t>(high - low_));
    if (!source_.ReadExact(low_, window_.data(), window_.size())) return false;
    window_units_ = static_cast<size_t>((window_.size() + unit_ - 1) / unit_);
    used_.assign(window_units_, false);
    header_unit_ = static_cast<size_t>(before);
    anchors_[0] = header_unit_;
    used_[header_unit_] = true;
    return true;
  }

  // The `n` bytes `phase` bytes into window unit `w`; null past the window's end (or for no unit).
  const uint8_t* At(size_t w, uint64_t phase, uint64_t n) const {
    if (w >= window_units_) return nullptr;
    const uint64_t at = uint64_t{w} * unit_ + phase;
    return at + n <= window_.size() ? window_.data() + at : nullptr;
  }

  bool ReadHeader() {
    const uint8_t* header = At(header_unit_, 0, kHeaderBytes);
    if (header == nullptr) return false;
    const uint16_t shift = LoadLe16(header + 0x1E);
    if (shift != 9 && shift != 12) return false;
    sector_bytes_ = uint32_t{1} << shift;
    if (unit_ % sector_bytes_ != 0) return false;
    const uint32_t count = LoadLe32(header + kFatCountOffset);
    const uint32_t difat = LoadLe32(header + kDifatStartOffset);
    // Every FAT sector but the last maps a full sector of entries: the document must fit in
    // the window.
    if (count == 0 || count > kHeaderFatEntries || (difat != kEndOfChain && difat != kFreeSect) ||
        uint64_t{count - 1} * (sector_bytes_ / 4) >= window_.size() / sector_bytes_) {
      return false;
    }
    for (uint32_t j = 0; j < count; ++j) {
      fat_sectors_.push_back(LoadLe32(header + kHeaderFatOffset + 4 * j));
    }
    directory_start_ = LoadLe32(header + kDirectoryOffset);
    return true;
  }

  uint64_t FileOffsetOf(uint32_t sector) const { return (uint64_t{sector} + 1) * sector_bytes_; }
  uint64_t FileUnitOf(uint32_t sector) const { return FileOffsetOf(sector) / unit_; }
  uint64_t PhaseOf(uint32_t sector) const { return FileOffsetOf(sector) % unit_; }

  // The window units that can hold file unit `file_unit` by `fits`: its anchor when it has one
  // (and it fits), else the free units where it fits, at most `most` + 1 of them.
  template <typename Fits>
  std::vector<size_t> UnitsFitting(uint64_t file_unit, Fits fits, size_t most) const {
    if (const auto known = anchors_.find(file_unit); known != anchors_.end()) {
      if (fits(known->second)) return {known->second};
      return {};
    }
    std::vector<size_t> found;
    for (size_t w = 0; w < window_units_ && found.size() <= most; ++w) {
      if (!used_[w] && fits(w)) found.push_back(w);
    }
    return found;
  }

  // Places file unit `file_unit` in window unit `w` as an anchor; false when `w` holds another.
  bool PlaceAnchor(uint64_t file_unit, size_t w) {
    if (const auto known = anchors_.find(file_unit); known != anchors_.end()) {
      return known->second == w;
    }
    if (used_[w]) return false;
    anchors_[file_unit] = w;
    used_[w] = true;
    return true;
  }

  // The one window unit that holds file unit `file_unit` by `fits`, placed as an anchor.
  template <typename Fits>
  bool Anchor(uint64_t file_unit, Fits fits) {
    const std::vector<size_t> found = UnitsFitting(file_unit, fits, 1);
    return found.size() == 1 && PlaceAnchor(file_unit, found[0]);
  }

  // Sectors (by their places in `list`) grouped by the file unit that holds them.
  std::map<uint64_t, std::vector<size_t>> ByFileUnit(const std::vector<uint32_t>& list) const {
    std::map<uint64_t, std::vector<size_t>> groups;
    for (size_t k = 0; k < list.size(); ++k) groups[FileUnitOf(list[k])].push_back(k);
    return groups;
  }

  // A file unit of the FAT and the window units where its FAT sectors can stand.
  struct FatUnit {
    uint64_t file_unit = 0;
    std::vector<size_t> fitting;
  };

  // For each file unit that holds FAT sectors, the units of the window where every one of them
  // can stand and one at least links two sectors (the last FAT sector of a small document links
  // few). Empty when a unit fits nowhere or in more than a few places.
  std::vector<FatUnit> FatUnits() const {
    const uint64_t bound = window_.size() / sector_bytes_;
    std::vector<FatUnit> units;
    for (const auto& [file_unit, sectors] : ByFileUnit(fat_sectors_)) {
      const auto& group = sectors;  // a lambda cannot capture a structured binding in C++20
      const auto fits = [&](size_t w) {
        const auto can_be = [&](size_t j, uint32_t min_links) {
          const uint8_t* block = At(w, PhaseOf(fat_sectors_[j]), sector_bytes_);
          return block != nullptr && LooksLikeFat(block, sector_bytes_, static_cast<uint32_t>(j),
                                                  fat_sectors_, bound, min_links);
        };
        return std::all_of(group.begin(), group.end(), [&](size_t j) { return can_be(j, 0); }) &&
               std::any_of(group.begin(), group.end(),
                           [&](size_t j) { return can_be(j, kMinAnchorLinks); });
      };
      units.push_back({file_unit, UnitsFitting(file_unit, fits, kMaxFatChoices)});
      if (units.back().fitting.empty() || units.back().fitting.size() > kMaxFatChoices) return {};
    }
    return units;
  }

  // The FAT and the directory. A unit of FAT sectors may stand alike in a few places (a
  // near-identical document nearby, whose FAT differs only where its chains end): each choice is
  // tried, and the one with which the directory's streams have the chains their sizes need
  // stands; two such choices, and none does.
  bool FindFatAndDirectory() {
    const std::vector<FatUnit> units = FatUnits();
    if (units.empty()) return false;
    uint64_t choices = 1;
    for (const FatUnit& unit : units) {
      choices *= unit.fitting.size();
      if (choices > kMaxFatChoices) return false;
    }
    const std::map<uint64_t, size_t> anchors = anchors_;
    const std::vector<bool> used = used_;
    std::optional<uint64_t> found;
    for (uint64_t choice = 0; choice < choices; ++choice) {
      const bool stands = FatAndDirectoryWith(units, choice);
      anchors_ = anchors;
      used_ = used;
      if (!stands) continue;
      if (found) return false;
      found = choice;
    }
    return found && FatAndDirectoryWith(units, *found);
  }

  // Places the FAT's units by choice number `choice` (a digit for each unit) and finds the
  // directory with the FAT they hold.
  bool FatAndDirectoryWith(const std::vector<FatUnit>& units, uint64_t choice) {
    for (const FatUnit& unit : units) {
      const size_t w = unit.fitting[choice % unit.fitting.size()];
      choice /= unit.fitting.size();
      if (!PlaceAnchor(unit.file_unit, w)) return false;
    }
    return ReadFat() && FindDirectory();
  }

  // The FAT's entries from its sectors as placed, and the document's length by them.
  bool ReadFat() {
    const uint32_t per = sector_bytes_ / 4;
    fat_.assign(uint64_t{per} * fat_sectors_.size(), kFreeSect);
    for (size_t j = 0; j < fat_sectors_.size(); ++j) {
      const uint8_t* block =
          At(anchors_[FileUnitOf(fat_sectors_[j])], PhaseOf(fat_sectors_[j]), sector_bytes_);
      for (uint32_t k = 0; k < per; ++k) fat_[j * per + k] = LoadLe32(block + 4 * k);
    }
    sectors_ = 0;
    for (uint64_t k = fat_.size(); k > 0 && sectors_ == 0; --k) {
      if (fat_[k - 1] != kFreeSect) sectors_ = k;
    }
    length_ = (sectors_ + 1) * sector_bytes_;
    file_units_ = static_cast<size_t>((length_ + unit_ - 1) / unit_);
    return sectors_ != 0 && file_units_ <= window_units_ && anchors_.rbegin()->first < file_units_;
  }

  // The sectors of the chain from `first`; empty when it leaves the document or loops.
  std::vector<uint32_t> Chain(uint32_t first) const {
    std::vector<uint32_t> chain;
    for (uint32_t at = first; at != kEndOfChain; at = fat_[at]) {
      if (at >= sectors_ || chain.size() == sectors_) return {};
      chain.push_back(at);
    }
    return chain;
  }

  // Every stream of the directory sector `block` that is not in the mini stream, and the mini
  // stream, has a chain of the sectors its size needs.
  bool EntriesFitFat(const uint8_t* block) const {
    for (size_t at = 0; at + kEntryBytes <= sector_bytes_; at += kEntryBytes) {
      const uint8_t* entry = block + at;
      const uint64_t size = LoadLe32(entry + 120);
      const bool own_sectors =
          (entry[66] == kStream && size >= kMiniStreamCutoff) || (entry[66] == kRoot && size > 0);
      if (!own_sectors) continue;
      const uint64_t needed = (size + sector_bytes_ - 1) / sector_bytes_;
      if (Chain(LoadLe32(entry + 116)).size() != needed) return false;
    }
    return true;
  }

  bool FindDirectory() {
    directory_.clear();
    const std::vector<uint32_t> chain = Chain(directory_start_);
    if (chain.empty()) return false;
    for (const auto& entry : ByFileUnit(chain)) {
      const std::vector<size_t>& group = entry.second;
      const auto fits = [&](size_t w) {
        return std::all_of(group.begin(), group.end(), [&](size_t k) {
          const uint8_t* block = At(w, PhaseOf(chain[k]), sector_bytes_);
          return block != nullptr && LooksLikeDirectory(block, sector_bytes_, k == 0) &&
                 EntriesFitFat(block);
        });
      };
      if (!Anchor(entry.first, fits)) return false;
    }
    for (const uint32_t sector : chain) {
      const uint8_t* block = At(anchors_[FileUnitOf(sector)], PhaseOf(sector), sector_bytes_);
      directory_.insert(directory_.end(), block, block + sector_bytes_);
    }
    return EntriesLinkInside();
  }

  // Every used entry of the directory links (left, right, child) only to entries it holds: a
  // directory chain cut short by a FAT not the document's leaves links past its end.
  bool EntriesLinkInside() const {
    const uint64_t entries = directory_.size() / kEntryBytes;
    for (size_t at = 0; at + kEntryBytes <= directory_.size(); at += kEntryBytes) {
      const uint8_t* entry = &directory_[at];
      if (entry[66] == kUnused) continue;
      for (const size_t link : {68, 72, 76}) {
        const uint32_t id = LoadLe32(entry + link);
        if (id != kNoEntry && id >= entries) return false;
      }
    }
    return true;
  }

  // The chain and size of the stream the directory lists under one of `names`, outside the mini
  // stream; an empty chain when there is none.
  std::pair<std::vector<uint32_t>, uint64_t> StreamNamed(
      std::initializer_list<std::string_view> names) const {
    for (size_t at = 0; at + kEntryBytes <= directory_.size(); at += kEntryBytes) {
      const uint8_t* entry = &directory_[at];
      const uint64_t size = LoadLe32(entry + 120);
      if (entry[66] != kStream || size < kMiniStreamCutoff ||
          std::none_of(names.begin(), names.end(),
                       [&](std::string_view name) { return EntryNamed(entry, name); })) {
        continue;
      }
      std::vector<uint32_t> chain = Chain(LoadLe32(entry + 116));
      if (uint64_t{chain.size()} * sector_bytes_ < size) chain.clear();
      return {std::move(chain), size};
    }
    return {};
  }

  void FindStreams() {
    std::tie(workbook_, workbook_size_) = StreamNamed({"Workbook", "Book"});
    std::tie(word_, word_size_) = StreamNamed({"WordDocument"});
    tables_[0] = StreamNamed({"0Table"});
    tables_[1] = StreamNamed({"1Table"});
    word_by_unit_ = SectorsByUnit(word_);
    std::tie(summary_, summary_size_) = StreamNamed({"\x05SummaryInformation"});
    summary_by_unit_ = SectorsByUnit(summary_);
  }

  // For each file unit, the places in `chain` of the stream's sectors that lie in it.
  std::vector<std::vector<uint32_t>> SectorsByUnit(const std::vector<uint32_t>& chain) const {
    std::vector<std::vector<uint32_t>> by_unit(file_units_);
    for (uint32_t k = 0; k < chain.size(); ++k) {
      by_unit[static_cast<size_t>(FileUnitOf(chain[k]))].push_back(k);
    }
    return by_unit;
  }

  // A presentation's thumbnail rows, read from the SummaryInformation stream as placed.
  std::optional<ThumbnailRows> Thumbnail() const {
    if (summary_.empty()) return std::nullopt;
    uint64_t ignored = kNoUnit;
    return FindThumbnailRows(summary_size_, [&](uint64_t at, uint8_t* out, size_t n) {
      return StreamBytes(summary_, at, out, n, &ignored);
    });
  }

  // The thumbnail's bytes in file unit `i` were it window unit `w`, each against the byte one
  // row above it: in the units placed before (the seam), or `within` the unit itself.
  RowSeam RowPairs(uint64_t i, size_t w, const ThumbnailRows& rows, bool within) const {
    RowSeam seam;
    for (const uint64_t k : summary_by_unit_[static_cast<size_t>(i)]) {
      const uint64_t first = std::max(rows.from + rows.stride, k * sector_bytes_);
      const uint64_t end = std::min(rows.to, (k + 1) * sector_bytes_);
      for (uint64_t at = first; at < end; ++at) {
        const uint64_t above = at - rows.stride;
        const uint64_t offset =
            FileOffsetOf(summary_[above / sector_bytes_]) + above % sector_bytes_;
        const uint64_t u = offset / unit_;
        size_t holder = kNowhere;
        if (within ? u == i : u < i) holder = within ? w : place_[static_cast<size_t>(u)];
        const uint8_t* up = holder == kNowhere ? nullptr : At(holder, offset % unit_, 1);
        const uint8_t* byte = At(w, PhaseOf(summary_[k]) + at - k * sector_bytes_, 1);
        if (up != nullptr && byte != nullptr) seam.Add(*byte, *up);
      }
    }
    return seam;
  }
  RowSeam SeamOf(uint64_t i, size_t w, const ThumbnailRows& rows) const {
    return RowPairs(i, w, rows, false);
  }

  // Whether file unit `i` (as placed) can hold thumbnail rows: where it holds many, they differ
  // from the rows above them inside the unit less than noise does (random or compressed bytes
  // differ by about 85 a byte; a slide's rendered rows by far less), and at a cut (a unit that
  // does not follow the one before it) they go on from the rows above it less roughly than any
  // rendered slide's rows do.
  bool RowsCanStand(uint64_t i) const {
    if (summary_.empty() || summary_by_unit_[static_cast<size_t>(i)].empty()) return true;
    const std::optional<ThumbnailRows> rows = Thumbnail();
    if (!rows) return true;
    const size_t w = place_[static_cast<size_t>(i)];
    const RowSeam inner = RowPairs(i, w, *rows, true);
    if (inner.pairs >= kMinInnerRowPairs && inner.difference >= kNoiseRowDifference * inner.pairs) {
      return false;
    }
    if (i == 0 || place_[static_cast<size_t>(i) - 1] + 1 == w) return true;
    const RowSeam seam = RowPairs(i, w, *rows, false);
    return seam.pairs < kMinInnerRowPairs || seam.difference < kMaxCutRowDifference * seam.pairs;
  }

  // Inside a presentation's thumbnail, where the unit `after` the one before file unit `i` is
  // noise: the first free unit past the noise that follows it (within a few units), which a gap of
  // foreign bytes cut from the document; kNowhere when `after` is no noise or none follows.
  size_t PastNoise(uint64_t i, size_t after) {
    if (summary_.empty() || summary_by_unit_[static_cast<size_t>(i)].empty()) return kNowhere;
    const size_t index = static_cast<size_t>(i);
    size_t found = kNowhere;
    for (size_t d = 0; d < kMaxNoiseUnits && Free(after + d); ++d) {
      place_[index] = after + d;
      if (RowsCanStand(i)) {
        if (d != 0) found = after + d;
        break;
      }
    }
    place_[index] = kNowhere;
    return found;
  }

  // Of the units `after` and `before` (both free) for file unit `i`, those to try. Inside a
  // presentation's thumbnail, the runs from each are compared at the first file unit where their
  // bytes differ (the rows above it are then the same by either): a run that breaks the rows
  // clearly there where the other goes on with them is not tried.
  std::pair<bool, bool> GoOnWithRows(uint64_t i, size_t after, size_t before) {
    if (summary_.empty()) return {true, true};
    const std::optional<ThumbnailRows> rows = Thumbnail();
    if (!rows) return {true, true};
    std::pair<bool, bool> tried = {true, true};
    uint64_t j = i;
    for (size_t d = 0; d < kMaxRowLookahead && j < file_units_; ++d, ++j) {
      const size_t a = after + d, b = before + d;
      if ((j > i && place_[static_cast<size_t>(j)] != kNowhere) || !Free(a) || !Free(b)) break;
      const uint64_t bytes = std::min<uint64_t>(unit_, length_ - j * unit_);
      const uint8_t *at_a = At(a, 0, bytes), *at_b = At(b, 0, bytes);
      if (at_a == nullptr || at_b == nullptr) break;
      if (std::memcmp(at_a, at_b, static_cast<size_t>(bytes)) == 0) {
        place_[static_cast<size_t>(j)] = a;  // the same bytes by either run
        continue;
      }
      if (summary_by_unit_[static_cast<size_t>(j)].empty()) break;
      const RowSeam by_after = SeamOf(j, a, *rows), by_before = SeamOf(j, b, *rows);
      tried = {!BreaksRowsAgainst(by_after, by_before), !BreaksRowsAgainst(by_before, by_after)};
      break;
    }
    for (uint64_t u = i; u < j; ++u) place_[static_cast<size_t>(u)] = kNowhere;
    return tried;
  }

  // Copies `n` bytes at `at` of the stream whose chain is `chain` from the placed units; false at
  // a byte whose unit is not placed (noted in `waiting`).
  bool StreamBytes(const std::vector<uint32_t>& chain, uint64_t at, uint8_t* out, size_t n,
                   uint64_t* waiting) const {
    for (size_t k = 0; k < n; ++k) {
      const uint64_t index = (at + k) / sector_bytes_;
      if (index >= chain.size()) return false;
      const uint64_t offset = FileOffsetOf(chain[index]) + (at + k) % sector_bytes_;
      const size_t w = place_[static_cast<size_t>(offset / unit_)];
      const uint8_t* byte = w == kNowhere ? nullptr : At(w, offset % unit_, 1);
      if (byte == nullptr) {
        *waiting = offset / unit_;
        return false;
      }
      out[k] = *byte;
    }
    return true;
  }

  // Follows the records through the placed units; false when one cannot stand where it is.
  bool FollowRecords(Records& records) const {
    if (workbook_.empty()) return true;
    records.waiting = kNoUnit;
    return FollowBiffRecords(records.cursor, workbook_size_,
                             [&](uint64_t at, uint8_t* out, size_t n) {
                               return StreamBytes(workbook_, at, out, n, &records.waiting);
                             });
  }

  // Whether the records wait for file unit `i`: its bytes are then judged by them.
  bool JudgedByRecords(const Records& records, uint64_t i) const {
    return !workbook_.empty() && !records.cursor.done && records.waiting == i;
  }

  // Text bytes of the WordDocument stream (its offsets [from, to)) in file unit `u`, and of them
  // the high bytes of UTF-16 characters that are zero (Latin text).
  struct TextShare {
    uint64_t pairs = 0, latin = 0;
  };
  TextShare LatinShare(uint64_t u, uint64_t from, uint64_t to) const {
    TextShare share;
    const size_t w = place_[static_cast<size_t>(u)];
    for (const uint64_t k : word_by_unit_[static_cast<size_t>(u)]) {
      const uint64_t first = std::max(from, k * sector_bytes_);
      const uint64_t end = std::min(to, (k + 1) * sector_bytes_);
      for (uint64_t at = first + (first - from) % 2; at + 1 < end; at += 2) {
        const uint8_t* pair = At(w, PhaseOf(word_[k]) + at - k * sector_bytes_, 2);
        if (pair == nullptr) break;
        ++share.pairs;
        if (pair[1] == 0) ++share.latin;
      }
    }
    return share;
  }

  static bool Latin(const TextShare& share) {
    return share.pairs >= kMinTextPairs && share.latin * 10 >= share.pairs * 9;
  }

  // Text characters file unit `u` holds, by the stream's sectors in it alone.
  uint64_t TextPairsIn(uint64_t u, uint64_t from, uint64_t to) const {
    uint64_t bytes = 0;
    for (const uint64_t k : word_by_unit_[static_cast<size_t>(u)]) {
      const uint64_t first = std::max(from, k * sector_bytes_);
      const uint64_t end = std::min(to, (k + 1) * sector_bytes_);
      if (end > first) bytes += end - first;
    }
    return bytes / 2;
  }

  // Where a Word document's text lies by the FIB as placed (fcMin, fcMac), when the unit where it
  // starts is placed before file unit `i` and its text is Latin UTF-16; empty otherwise.
  struct TextRange {
    uint64_t from = 0, to = 0;
  };
  std::optional<TextRange> LatinText(uint64_t i) const {
    if (word_.empty()) return std::nullopt;
    uint8_t fib[0x20];
    uint64_t ignored = kNoUnit;
    if (!StreamBytes(word_, 0, fib, sizeof fib, &ignored)) return std::nullopt;
    const uint64_t from = LoadLe32(fib + 0x18);
    const uint64_t to = std::min<uint64_t>(LoadLe32(fib + 0x1C), word_size_);
    if (from >= to || from % 2 != 0 || from / sector_bytes_ >= word_.size()) return std::nullopt;
    const uint64_t first_unit = FileUnitOf(word_[from / sector_bytes_]);
    if (first_unit >= i || place_[static_cast<size_t>(first_unit)] == kNowhere ||
        !Latin(LatinShare(first_unit, from, to))) {
      return std::nullopt;
    }
    return TextRange{from, to};
  }

  // The paragraph page `page` of the WordDocument stream, whose paragraphs the bin table says
  // run from stream offset `first` to `last`: as placed, or in the one free unit of the window
  // where such a page stands at its place. Null when neither.
  const uint8_t* ParagraphPage(uint64_t page, uint32_t first, uint32_t last) const {
    if (page >= word_size_ / kFormattingPageBytes) return nullptr;
    const uint64_t at = page * kFormattingPageBytes;
    const uint32_t sector = word_[at / sector_bytes_];
    const uint64_t phase = PhaseOf(sector) + at % sector_bytes_;
    const size_t placed = place_[static_cast<size_t>(FileUnitOf(sector))];
    if (placed != kNowhere) return At(placed, phase, kFormattingPageBytes);
    const uint8_t* found = nullptr;
    for (size_t w = 0; w < window_units_; ++w) {
      const uint8_t* candidate = At(w, phase, kFormattingPageBytes);
      if (!Free(w) || candidate == nullptr ||
          !FormattingPageFits(candidate, word_size_, kMaxPapxRuns, kPapxEntryBytes) ||
          LoadLe32(candidate) != first ||
          LoadLe32(candidate + 4 * candidate[kFormattingPageBytes - 1]) != last) {
        continue;
      }
      if (found != nullptr) return nullptr;  // two pages fit alike
      found = candidate;
    }
    return found;
  }

  // The ends of the paragraphs (stream offsets just past each paragraph's mark) that the
  // paragraph pages list, read once from the FIB and the table stream as placed; empty when a
  // page is not found.
  const std::vector<uint64_t>& ParagraphEnds() {
    if (paragraph_ends_) return *paragraph_ends_;
    paragraph_ends_.emplace();
    uint8_t fib[kBinTablePapx + 8];
    uint64_t ignored = kNoUnit;
    if (!StreamBytes(word_, 0, fib, sizeof fib, &ignored)) return *paragraph_ends_;
    const bool table1 = (LoadLe16(fib + 0x0A) & 0x0200) != 0;
    const auto [table, table_size] = StreamNamed({table1 ? "1Table" : "0Table"});
    const uint64_t fc = LoadLe32(fib + kBinTablePapx), lcb = LoadLe32(fib + kBinTablePapx + 4);
    if (table.empty() || lcb < 12 || (lcb - 4) % 8 != 0 || fc > table_size ||
        lcb > table_size - fc || (lcb - 4) / 8 > kMaxParagraphPages) {
      return *paragraph_ends_;
    }
    const uint64_t pages = (lcb - 4) / 8;
    std::vector<uint64_t> ends;
    for (uint64_t k = 0; k < pages; ++k) {
      // The page's number, and the stream offsets where its paragraphs start and end.
      uint8_t pn[4], bounds[8];
      if (!StreamBytes(table, fc + 4 * (pages + 1) + 4 * k, pn, 4, &ignored) ||
          !StreamBytes(table, fc + 4 * k, bounds, 8, &ignored)) {
        return *paragraph_ends_;
      }
      const uint8_t* page =
          ParagraphPage(LoadLe32(pn) & 0x3FFFFF, LoadLe32(bounds), LoadLe32(bounds + 4));
      if (page == nullptr) return *paragraph_ends_;
      for (size_t run = 1; run <= page[kFormattingPageBytes - 1]; ++run) {
        ends.push_back(LoadLe32(page + 4 * run));
      }
    }
    std::sort(ends.begin(), ends.end());
    paragraph_ends_ = std::move(ends);
    return *paragraph_ends_;
  }

  // The paragraph ends whose marks lie in file unit `i` (as placed), and of them those whose mark
  // is no paragraph, cell or section mark.
  struct Marks {
    uint64_t checked = 0, wrong = 0;
  };
  Marks ParagraphMarks(uint64_t i, const TextRange& text) {
    Marks marks;
    const std::vector<uint64_t>& ends = ParagraphEnds();
    const size_t w = place_[static_cast<size_t>(i)];
    for (const uint64_t k : word_by_unit_[static_cast<size_t>(i)]) {
      const uint64_t first = k * sector_bytes_, end = (k + 1) * sector_bytes_;
      for (auto e = std::lower_bound(ends.begin(), ends.end(), first + 2);
           e != ends.end() && *e <= end; ++e) {
        if (*e <= text.from || *e > text.to || (*e - text.from) % 2 != 0) continue;
        const uint8_t* mark = At(w, PhaseOf(word_[k]) + (*e - 2 - first), 2);
        if (mark == nullptr) continue;
        ++marks.checked;
        if (mark[1] != 0 || (mark[0] != 0x0D && mark[0] != 0x07 && mark[0] != 0x0C)) {
          ++marks.wrong;
        }
      }
    }
    return marks;
  }

  // Whether file unit `i` (as placed) goes on with a Word document's text: where the text starts
  // as Latin UTF-16, every later unit that holds text holds such text, with a paragraph mark
  // before each paragraph end the paragraph pages list in it.
  bool TextGoesOn(uint64_t i) {
    const std::optional<TextRange> text = LatinText(i);
    if (!text) return true;
    const TextShare share = LatinShare(i, text->from, text->to);
    if (share.pairs < kMinTextPairs) return true;
    return Latin(share) && ParagraphMarks(i, *text).wrong == 0;
  }

  // The FIBs that judge a Word document's piece table: the FIB as placed, or while its unit is
  // not placed, the FIB of each free unit of the window where one stands at its place and gives
  // the stream's length to its last sector (none when more than a few do).
  std::vector<std::array<uint8_t, kWordFibBytes>> Fibs() {
    std::vector<std::array<uint8_t, kWordFibBytes>> fibs;
    const uint64_t phase = PhaseOf(word_[0]);
    const auto take = [&](size_t w, bool by_length) {
      const uint8_t* fib = At(w, phase, kWordFibBytes);
      if (fib == nullptr || !WordFibFits(fib) ||
          (by_length && (LoadLe32(fib + kWordStreamEnd) > word_size_ ||
                         word_size_ - LoadLe32(fib + kWordStreamEnd) >= sector_bytes_))) {
        return false;
      }
      fibs.emplace_back();
      std::memcpy(fibs.back().data(), fib, kWordFibBytes);
      return true;
    };
    if (const size_t placed = place_[static_cast<size_t>(FileUnitOf(word_[0]))];
        placed != kNowhere) {
      take(placed, false);
      return fibs;
    }
    if (!fib_units_) {
      fib_units_.emplace();
      for (size_t w = 0; w < window_units_ && fib_units_->size() <= kMaxFibs; ++w) {
        if (take(w, true)) fib_units_->push_back(w);
      }
      if (fib_units_->size() > kMaxFibs) fib_units_->clear();
      fibs.clear();
    }
    for (const size_t w : *fib_units_) {
      if (Free(w)) take(w, true);
    }
    return fibs;
  }

  // The table stream `fib` names (its chain and size).
  const std::pair<std::vector<uint32_t>, uint64_t>& TableOf(const uint8_t* fib) const {
    return tables_[(LoadLe16(fib + 0x0A) & 0x0200) != 0 ? 1 : 0];
  }

  // Whether file unit `i` holds the last bytes of the piece table `fib` places (the units of all
  // its bytes then placed).
  bool EndsPieceTable(const uint8_t* fib, uint64_t i) const {
    const auto& [table, size] = TableOf(fib);
    const uint64_t fc = LoadLe32(fib + kWordClxPlace), lcb = LoadLe32(fib + kWordClxPlace + 4);
    if (table.empty() || lcb == 0 || lcb > kMaxPieceTableBytes || fc > size || lcb > size - fc) {
      return false;
    }
    uint64_t last = 0;
    for (uint64_t k = fc / sector_bytes_; k <= (fc + lcb - 1) / sector_bytes_; ++k) {
      last = std::max(last, FileUnitOf(table[static_cast<size_t>(k)]));
    }
    return last == i;
  }

  // Whether file unit `i` (as placed) goes on with a Word document's piece table: where it holds
  // the table's last bytes by a FIB found, the table as placed fits by one of them.
  bool PieceTableGoesOn(uint64_t i) {
    if (word_.empty()) return true;
    bool judged = false;
    for (const auto& fib : Fibs()) {
      if (!EndsPieceTable(fib.data(), i)) continue;
      judged = true;
      const auto& placed = TableOf(fib.data());
      const auto& table = placed.first;
      uint64_t ignored = kNoUnit;
      const Whole fits = PieceTableFits(fib.data(), word_size_, placed.second,
                                        [&](uint64_t at, uint8_t* out, size_t n) {
                                          return StreamBytes(table, at, out, n, &ignored);
                                        });
      if (fits != Whole::kNo) return true;
    }
    return !judged;
  }

  // Whether file unit `i` holds the last bytes of a Word document's piece table by a FIB found.
  bool JudgedByPieceTable(uint64_t i) {
    if (word_.empty()) return false;
    const auto fibs = Fibs();
    return std::any_of(fibs.begin(), fibs.end(),
                       [&](const auto& fib) { return EndsPieceTable(fib.data(), i); });
  }

  // Places file unit `i` in window unit `w` and goes on with the next; false when the records,
  // the text or the piece table do not go on there.
  bool TryUnit(uint64_t i, size_t w, Records records) {
    const size_t index = static_cast<size_t>(i);
    const bool anchored = place_[index] != kNowhere;
    place_[index] = w;
    const bool fits =
        FollowRecords(records) && TextGoesOn(i) && PieceTableGoesOn(i) && RowsCanStand(i);
    if (fits) {
      used_[w] = true;
      Place(i + 1, records);
      used_[w] = anchored;
    }
    if (!anchored) place_[index] = kNowhere;
    return fits;
  }

  bool Free(size_t w) const { return w < window_units_ && !used_[w]; }

  // The window unit where the run that ends at the next anchor after file unit `i` holds it.
  size_t BeforeNextAnchor(uint64_t i) const {
    const auto next = anchors_.upper_bound(i);
    if (next == anchors_.end() || next->second < next->first - i) return kNowhere;
    return static_cast<size_t>(next->second - (next->first - i));
  }

  void Place(uint64_t i, const Records& records) {
    if (passed_ > 1 || exhausted_) return;
    if (++tries_ > kMaxTries) {
      exhausted_ = true;
      return;
    }
    if (i == file_units_) {
      Check();
      return;
    }
    const size_t index = static_cast<size_t>(i);
    if (place_[index] != kNowhere && anchors_.count(i) != 0) {
      TryUnit(i, place_[index], records);
      return;
    }
    const size_t after = place_[index - 1] + 1;
    const size_t before = BeforeNextAnchor(i);
    bool try_after = Free(after), try_before = before != after && Free(before);
    if (try_after && try_before) std::tie(try_after, try_before) = GoOnWithRows(i, after, before);
    bool went_on = try_after && TryUnit(i, after, records);
    if (try_before) went_on = TryUnit(i, before, records) || went_on;
    if (const size_t past = PastNoise(i, after); past != kNowhere && past != before) {
      went_on = TryUnit(i, past, records) || went_on;
    }
    if (went_on) return;
    if (JudgedByRecords(records, i)) {
      Jump(i, records, after, before, [&](size_t) {
        Records trial = records;
        trial.cursor.rows_from_top = true;
        return FollowRecords(trial) &&
               trial.cursor.followed - records.cursor.followed >= kMinJumpRecords;
      });
    } else if (const std::optional<TextRange> text = LatinText(i);
               text && TextPairsIn(i, text->from, text->to) >= kMinTextPairs) {
      Jump(i, records, after, before, [&](size_t) {
        return Latin(LatinShare(i, text->from, text->to)) &&
               ParagraphMarks(i, *text).checked >= kMinJumpMarks && TextGoesOn(i);
      });
    } else if (JudgedByPieceTable(i)) {
      Jump(i, records, after, before, [&](size_t) { return PieceTableGoesOn(i); });
    }
  }

  // A cut inside the workbook stream or a Word document's text: the free units of the window
  // (not `after` or `before`, tried already) where `goes_on` finds file unit `i` going on, each
  // followed when there are few.
  template <typename GoesOn>
  void Jump(uint64_t i, const Records& records, size_t after, size_t before, GoesOn goes_on) {
    if (++scans_ > kMaxScans) {
      exhausted_ = true;
      return;
    }
    const size_t index = static_cast<size_t>(i);
    std::vector<size_t> fitting;
    for (size_t w = 0; w < window_units_; ++w) {
      if (!Free(w) || w == after || w == before) continue;
      place_[index] = w;
      if (goes_on(w)) fitting.push_back(w);
    }
    place_[index] = kNowhere;
    if (fitting.size() > kMaxJumps) {
      exhausted_ = true;
      return;
    }
    for (const size_t w : fitting) TryUnit(i, w, records);
  }

  void Check() {
    std::vector<FilePiece> pieces;
    for (size_t i = 0; i < file_units_; ++i) {
      const uint64_t at = low_ + uint64_t{place_[i]} * unit_;
      const uint64_t bytes = std::min<uint64_t>(unit_, length_ - uint64_t{i} * unit_);
      AppendPiece(pieces, at, bytes);
    }
    check_bytes_ += length_;
    if (++checks_ > kMaxChecks || check_bytes_ > kCheckBytesPerLength * length_) {
      exhausted_ = true;
      return;
    }
    PieceSource file(source_, pieces);
    if (file.Size() != length_ || CheckCompoundDoc(file, 0, length_) != Whole::kYes) return;
    if (++passed_ == 1) found_ = std::move(pieces);
  }

  ByteSource& source_;
  uint64_t start_;
  ByteUnits units_;
  uint64_t unit_;
  uint64_t low_ = 0;  // the window's first byte in the source
  std::vector<uint8_t> window_;
  size_t window_units_ = 0, header_unit_ = 0;
  std::vector<bool> used_;              // window units placed
  std::map<uint64_t, size_t> anchors_;  // file unit -> window unit, by the tables found
  uint32_t sector_bytes_ = 512;
  std::vector<uint32_t> fat_sectors_;
  uint32_t directory_start_ = 0;
  std::vector<uint32_t> fat_;
  uint64_t sectors_ = 0, length_ = 0;
  size_t file_units_ = 0;
  std::vector<uint8_t> directory_;  // the directory's sectors in chain order
  std::vector<uint32_t> workbook_, word_;
  uint64_t workbook_size_ = 0, word_size_ = 0;
  std::vector<std::vector<uint32_t>> word_by_unit_;  // file unit -> WordDocument sectors in it
  std::array<std::pair<std::vector<uint32_t>, uint64_t>, 2> tables_;  // 0Table, 1Table
  std::optional<std::vector<size_t>> fib_units_;  // free units holding a FIB, found once
  std::vector<uint32_t> summary_;                 // the SummaryInformation stream's chain
  uint64_t summary_size_ = 0;
  std::vector<std::vector<uint32_t>> summary_by_unit_;  // file unit -> its sectors in it
  std::optional<std::vector<uint64_t>> paragraph_ends_;
  std::vector<size_t> place_;  // file unit -> window unit
  uint64_t tries_ = 0, check_bytes_ = 0;
  uint32_t checks_ = 0, passed_ = 0, scans_ = 0;
  bool exhausted_ = false;
  std::vector<FilePiece> found_;
};

}  // namespace

bool WalkCompoundFragments(ByteSource& source, uint64_t start, const ByteUnits& units,
                           std::vector<FilePiece>* pieces) {
  return CompoundFragmentWalk(source, start, units).Run(pieces);
}

std::optional<std::vector<uint8_t>> FindCompoundDirectory(ByteSource& source, uint64_t start,
                                                          const ByteUnits& units) {
  CompoundFragmentWalk walk(source, start, units);
  if (!walk.FindTables()) return std::nullopt;
  return walk.directory();
}

}  // namespace kestrel
