#include "carve/formats/compound_doc_reassembly.h"

#include <algorithm>
#include <cstring>

#include "carve/formats/compound_doc_check.h"
#include "carve/formats/compound_doc_fragment_walk.h"
#include "carve/formats/compound_doc_layout.h"
#include "platform/byte_order.h"

namespace kestrel {
namespace {

using namespace cfb;

constexpr uint64_t kMaxShift = uint64_t{64} << 20;
constexpr uint32_t kMaxChecks = 4096;
constexpr uint64_t kCheckBytesPerLength = 64;
constexpr uint64_t kMinCheckBudget = uint64_t{4} << 20;
constexpr size_t kMaxGapRanges = 4;

// A sector of the document found on the source, and what was put in before it.
struct Anchor {
  uint32_t sector = 0;
  uint64_t shift = 0;
};

struct Gap {
  uint64_t at = 0, length = 0;  // source offset of the first foreign byte, and its length
};

// Between two anchors: the gaps that make up `total` bytes start at unit boundaries whose
// document offsets (before the first of them) lie in [from, to].
struct GapRange {
  uint64_t from = 0, to = 0, base_shift = 0, total = 0;
};

class CompoundReassembly {
 public:
  CompoundReassembly(ByteSource& source, uint64_t start, const ByteUnits& units)
      : source_(source), start_(start), units_(units) {}

  // How the search ended: kFound with the pieces; kUnsure with the one placement that passed
  // before the work ran out; kTied when two placements pass; kNone when no anchor or placement
  // fits.
  enum class Outcome : uint8_t { kFound, kUnsure, kTied, kNone };

  Outcome Run(std::vector<FilePiece>* pieces) {
    if (!ReadHeader() || !FindFat() || !FindDirectory() || !FindGapRanges()) {
      return Outcome::kNone;
    }
    // The fewest gaps first: one per range, then up to two.
    std::vector<Gap> gaps;
    Place(0, gaps);
    if (passed_ == 0 && !Exhausted()) {
      two_gaps_ = true;
      Place(0, gaps);
    }
    if (passed_ == 0) return Outcome::kNone;
    if (passed_ > 1) return Outcome::kTied;
    *pieces = found_;
    return Exhausted() ? Outcome::kUnsure : Outcome::kFound;
  }

 private:
  bool ReadHeader() {
    uint8_t header[kHeaderBytes];
    if (!source_.ReadExact(start_, header, sizeof header)) return false;
    const uint16_t shift = LoadLe16(header + 0x1E);
    if (shift != 9 && shift != 12) return false;
    sector_bytes_ = uint32_t{1} << shift;
    const uint32_t count = LoadLe32(header + kFatCountOffset);
    const uint32_t difat = LoadLe32(header + kDifatStartOffset);
    if (count == 0 || count > kHeaderFatEntries || (difat != kEndOfChain && difat != kFreeSect)) {
      return false;
    }
    for (uint32_t j = 0; j < count; ++j)
      fat_sectors_.push_back(LoadLe32(header + kHeaderFatOffset + 4 * j));
    directory_ = LoadLe32(header + kDirectoryOffset);
    return source_.Size() > start_;
  }

  uint32_t PerSector() const { return sector_bytes_ / 4; }

  bool ReadSector(uint32_t sector, uint64_t shift, std::vector<uint8_t>& block) {
    block.resize(sector_bytes_);
    return source_.ReadExact(start_ + (uint64_t{sector} + 1) * sector_bytes_ + shift, block.data(),
                             block.size());
  }

  // The FAT sectors in the order of their numbers, each at or past the shift of the one before.
  bool FindFat() {
    std::vector<uint32_t> order(fat_sectors_.size());
    for (uint32_t j = 0; j < order.size(); ++j) order[j] = j;
    std::sort(order.begin(), order.end(),
              [&](uint32_t a, uint32_t b) { return fat_sectors_[a] < fat_sectors_[b]; });
    fat_.assign(uint64_t{PerSector()} * fat_sectors_.size(), kFreeSect);
    uint64_t shift = 0;
    std::vector<uint8_t> block;
    for (const uint32_t j : order) {
      const std::optional<uint64_t> found = FatSectorShift(
          source_, start_, sector_bytes_, fat_sectors_[j], j, fat_sectors_, shift, units_.bytes);
      if (!found || !ReadSector(fat_sectors_[j], *found, block)) return false;
      shift = *found;
      anchors_.push_back({fat_sectors_[j], shift});
      for (uint32_t k = 0; k < PerSector(); ++k)
        fat_[j * PerSector() + k] = LoadLe32(&block[4 * k]);
    }
    for (uint64_t k = fat_.size(); k > 0; --k) {
      if (fat_[k - 1] != kFreeSect) {
        sectors_ = k;
        break;
      }
    }
    return sectors_ != 0;
  }

  // The directory's sectors, each between the shifts of the anchors around it.
  bool FindDirectory() {
    std::vector<uint32_t> chain;
    for (uint32_t at = directory_; at != kEndOfChain; at = fat_[at]) {
      if (at >= sectors_ || chain.size() == sectors_) return false;
      chain.push_back(at);
    }
    if (chain.empty()) return false;
    std::vector<uint8_t> block;
    for (const uint32_t sector : chain) {
      uint64_t low = 0, high = kMaxShift;
      for (const Anchor& anchor : anchors_) {
        if (anchor.sector < sector) low = std::max(low, anchor.shift);
        if (anchor.sector > sector) high = std::min(high, anchor.shift);
      }
      bool found = false;
      for (uint64_t shift = low; shift <= high && !found; shift += units_.bytes) {
        if (!ReadSector(sector, shift, block)) return false;
        if (LooksLikeDirectory(block.data(), block.size(), sector == chain.front())) {
          anchors_.push_back({sector, shift});
          found = true;
        }
      }
      if (!found) return false;
    }
    std::sort(anchors_.begin(), anchors_.end(),
              [](const Anchor& a, const Anchor& b) { return a.sector < b.sector; });
    return true;
  }

  // Where the gaps lie: between consecutive anchors whose shifts differ (the header is an
  // anchor at shift 0; nothing is put in after the last anchor).
  bool FindGapRanges() {
    uint64_t end = sector_bytes_;  // the document offset where the anchor before ends
    uint64_t shift = 0;
    for (const Anchor& anchor : anchors_) {
      if (anchor.shift < shift) return false;
      const uint64_t begins = (uint64_t{anchor.sector} + 1) * sector_bytes_;
      if (anchor.shift > shift) {
        if (begins < end || ranges_.size() == kMaxGapRanges) return false;
        ranges_.push_back({end, begins, shift, anchor.shift - shift});
      }
      shift = anchor.shift;
      end = begins + sector_bytes_;
    }
    length_ = (sectors_ + 1) * sector_bytes_;
    total_shift_ = shift;
    return !ranges_.empty();
  }

  // Tries every placement of the gaps of range `r` and the ranges after it.
  void Place(size_t r, std::vector<Gap>& gaps) {
    if (Settled()) return;
    if (r == ranges_.size()) {
      Check(gaps);
      return;
    }
    const GapRange& range = ranges_[r];
    const uint64_t first = units_.BoundaryFrom(start_ + range.base_shift + range.from);
    const uint64_t last = start_ + range.base_shift + range.to;
    for (uint64_t at = first; at <= last && !Settled(); at += units_.bytes) {
      gaps.push_back({at, range.total});
      Place(r + 1, gaps);
      gaps.pop_back();
    }
    if (!two_gaps_) return;
    // Two gaps: the second starts later in the document, after the first one's length.
    for (uint64_t length = units_.bytes; length < range.total && !Settled();
         length += units_.bytes) {
      for (uint64_t at = first; at <= last && !Settled(); at += units_.bytes) {
        for (uint64_t second = at + length + units_.bytes; second <= last + length && !Settled();
             second += units_.bytes) {
          gaps.push_back({at, length});
          gaps.push_back({second, range.total - length});
          Place(r + 1, gaps);
          gaps.resize(gaps.size() - 2);
        }
      }
    }
  }

  bool Exhausted() const {
    return checks_ > kMaxChecks ||
           checks_ * length_ > kCheckBytesPerLength * std::max(length_, kMinCheckBudget);
  }
  // Nothing more to look for: two placements pass (no gap's place is known), or the work spent.
  bool Settled() const { return passed_ > 1 || Exhausted(); }

  void Check(const std::vector<Gap>& gaps) {
    ++checks_;
    std::vector<FilePiece> pieces;
    uint64_t from = start_;
    for (const Gap& gap : gaps) {
      pieces.push_back({from, gap.at - from});
      from = gap.at + gap.length;
    }
    pieces.push_back({from, start_ + length_ + total_shift_ - from});
    PieceSource file(source_, pieces);
    if (file.Size() != length_ || CheckCompoundDoc(file, 0, length_) != Whole::kYes) return;
    if (++passed_ == 1) found_ = pieces;
  }

  ByteSource& source_;
  uint64_t start_;
  ByteUnits units_;
  uint32_t sector_bytes_ = 512;
  std::vector<uint32_t> fat_sectors_;
  uint32_t directory_ = 0;
  std::vector<uint32_t> fat_;
  uint64_t sectors_ = 0;  // sectors the FAT uses
  std::vector<Anchor> anchors_;
  std::vector<GapRange> ranges_;
  uint64_t length_ = 0, total_shift_ = 0;
  uint32_t checks_ = 0, passed_ = 0;
  bool two_gaps_ = false;
  std::vector<FilePiece> found_;
};

}  // namespace

bool LooksLikeFat(const uint8_t* block, size_t bytes, uint32_t index,
                  const std::vector<uint32_t>& fat_sectors, uint64_t bound, uint32_t min_links) {
  const uint32_t per = static_cast<uint32_t>(bytes / 4);
  const uint64_t first = uint64_t{index} * per;
  // The entries of this sector that stand for FAT sectors.
  std::vector<bool> fat_entry(per, false);
  for (const uint32_t sector : fat_sectors) {
    if (sector >= first && sector - first < per) fat_entry[sector - first] = true;
  }
  uint32_t links = 0;
  for (uint32_t k = 0; k < per; ++k) {
    const uint32_t entry = LoadLe32(block + 4 * k);
    const uint64_t sector = first + k;
    if (fat_entry[k] != (entry == kFatSect)) return false;
    if (entry == kFatSect) {
      ++links;
    } else if (entry != kFreeSect && entry != kEndOfChain && entry != kDifSect) {
      if (entry >= bound) return false;
      if (entry == sector + 1) ++links;
    }
  }
  return links >= min_links;
}

bool LooksLikeDirectory(const uint8_t* block, size_t bytes, bool first) {
  bool used = false;
  for (size_t at = 0; at + kEntryBytes <= bytes; at += kEntryBytes) {
    const uint8_t* entry = block + at;
    const uint8_t type = entry[66];
    if (first && at == 0 && type != kRoot) return false;
    if (type == 0) continue;
    if (type != kStorage && type != kStream && !(type == kRoot && first && at == 0)) return false;
    const uint16_t name_bytes = LoadLe16(entry + 64);
    if (name_bytes < 2 || name_bytes > 64 || name_bytes % 2 != 0 || entry[67] > 1) return false;
    if (entry[name_bytes - 2] != 0 || entry[name_bytes - 1] != 0) return false;
    used = true;
  }
  return used;
}

std::optional<uint64_t> FatSectorShift(ByteSource& source, uint64_t start, uint32_t sector_bytes,
                                       uint32_t sector, uint32_t index,
                                       const std::vector<uint32_t>& fat_sectors, uint64_t from,
                                       uint64_t step) {
  const uint64_t bound = (source.Size() - std::min(source.Size(), start)) / sector_bytes;
  std::vector<uint8_t> block(sector_bytes);
  const uint64_t place = start + (uint64_t{sector} + 1) * sector_bytes;
  for (uint64_t shift = from; shift <= kMaxShift; shift += step) {
    if (!source.ReadExact(place + shift, block.data(), block.size())) return std::nullopt;
    if (LooksLikeFat(block.data(), block.size(), index, fat_sectors, bound)) return shift;
  }
  return std::nullopt;
}

bool ReassembleCompoundDoc(ByteSource& source, uint64_t start, uint64_t /*length*/,
                           const ByteUnits& units, std::vector<FilePiece>* pieces) {
  using Outcome = CompoundReassembly::Outcome;
  std::vector<FilePiece> in_order;
  const Outcome outcome = CompoundReassembly(source, start, units).Run(&in_order);
  if (outcome == Outcome::kFound) {
    *pieces = std::move(in_order);
    return true;
  }
  // Where placements tie, the walk's judgement of the units' contents may leave one; a placement
  // found before the work ran out stands when the walk finds it too, and only it.
  std::vector<FilePiece> walked;
  if (!WalkCompoundFragments(source, start, units, &walked)) return false;
  if (outcome == Outcome::kUnsure && walked != in_order) return false;
  *pieces = std::move(walked);
  return true;
}

}  // namespace kestrel
