#include "carve/formats/pdf_fragment_walk.h"

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>

#include "carve/formats/pdf_check.h"
#include "carve/formats/pdf_syntax.h"
#include "carve/formats/pdf_xref.h"

namespace kestrel {
namespace {

constexpr uint64_t kReachUnits = 128;
constexpr uint64_t kMaxFileUnits = 256;
constexpr size_t kMaxTables = 1000;
constexpr size_t kMaxTails = 64;
// Tables parsed in all, and objects they may place: a file of 256 units holds far fewer.
constexpr uint32_t kMaxTableParses = 256;
constexpr size_t kMaxAnchors = 100000;
// How far "%%EOF" may lie after "startxref".
constexpr size_t kEofReach = 64;
// An object header fits in this many bytes; one that runs into the next unit is no anchor.
constexpr uint64_t kHeaderBytes = 32;

class PdfFragmentWalk {
 public:
  PdfFragmentWalk(ByteSource& source, uint64_t start, const ByteUnits& units)
      : source_(source), start_(start), unit_(units.bytes), units_(units) {}

  bool Run(std::vector<FilePiece>* pieces) {
    if (unit_ == 0 || units_.BoundaryFrom(start_) != start_ || !ReadWindow()) return false;
    IndexWindow();
    // An earlier revision's end gives a file that the later revisions' end goes on from: the
    // latest is the file. Two files that do not go on from one another leave it unknown.
    std::optional<std::vector<FilePiece>> found;
    for (const size_t tail : tails_) {
      std::vector<FilePiece> trial;
      if (!FromTail(tail, &trial) || (found && PiecesStartWith(*found, trial))) continue;
      if (found && !PiecesStartWith(trial, *found)) return false;
      found = std::move(trial);
    }
    if (!found) return false;
    *pieces = std::move(*found);
    return true;
  }

 private:
  // What a table places in the file: an object's header, or the table itself, at `offset`.
  struct Anchor {
    uint64_t offset = 0, number = 0;
    bool table = false;
  };

  bool ReadWindow() {
    const uint64_t reach = kReachUnits * unit_;
    low_ = units_.BoundaryFrom(start_ > reach ? start_ - reach : 0);
    const uint64_t high = std::min(source_.Size(), start_ + reach + unit_);
    if (high <= low_) return false;
    const std::optional<std::string> text = ReadPdfText(source_, low_, high - low_);
    if (!text) return false;
    window_ = *text;
    return true;
  }

  // Object headers and tables at line starts, and "startxref" followed by "%%EOF".
  void IndexWindow() {
    const std::string_view text(window_);
    for (size_t at = 0; at < text.size(); ++at) {
      if (!AtPdfLineStart(text, at)) continue;
      const char c = text[at];
      if (c >= '0' && c <= '9') {
        const std::optional<PdfObjectHeader> header = ParsePdfObjectHeader(text, at);
        if (header && header->end - at <= kHeaderBytes) headers_[header->number].push_back(at);
      } else if (text.substr(at).starts_with("xref") && at + 4 < text.size() &&
                 IsPdfWhitespace(static_cast<uint8_t>(text[at + 4]))) {
        tables_.push_back(at);
      } else if (text.substr(at).starts_with("startxref") && tails_.size() < kMaxTails) {
        const size_t eof = text.find("%%EOF", at);
        if (eof != std::string_view::npos && eof - at <= kEofReach) tails_.push_back(at);
      }
    }
  }

  // The window and the file both start on unit boundaries: an offset's place within its unit
  // is its remainder.
  uint64_t InUnit(uint64_t offset) const { return offset % unit_; }
  bool SameInUnit(size_t at, uint64_t offset) const { return InUnit(at) == InUnit(offset); }
  size_t UnitOf(size_t at) const { return at - static_cast<size_t>(InUnit(at)); }

  // The file whose last "startxref" is at window offset `tail`.
  bool FromTail(size_t tail, std::vector<FilePiece>* pieces) {
    size_t at = tail + 9;
    const std::optional<uint64_t> last = ParsePdfUnsigned(window_, &at);
    if (!last) return false;
    const size_t tail_unit = UnitOf(tail);
    std::optional<std::string> text;
    std::optional<size_t> table;
    for (const size_t candidate : tables_) {
      if (!SameInUnit(candidate, *last)) continue;
      std::optional<std::string> found = LastTableText(candidate, tail);
      if (!found) continue;
      if (table) return false;  // two tables can be the last: which one is unknown
      table = candidate;
      text = std::move(found);
    }
    if (!table) return false;
    // The tail lies in the table's unit, or in the file's unit after it.
    const uint64_t tail_file_unit = *last / unit_ + (UnitOf(*table) == tail_unit ? 0 : 1);
    const uint64_t length = tail_file_unit * unit_ + (EofEnd(tail) - tail_unit);
    if (length > kMaxFileUnits * unit_ || length <= *last) return false;
    std::unordered_map<uint64_t, size_t> placed;  // file unit -> window unit
    placed[*last / unit_] = UnitOf(*table);
    placed[tail_file_unit] = tail_unit;
    std::vector<Anchor> anchors;
    if (!ReadTables(*text, *last, &anchors)) return false;
    // An object that revisions place alike is one anchor.
    std::sort(anchors.begin(), anchors.end(), [](const Anchor& a, const Anchor& b) {
      return std::tie(a.offset, a.number, a.table) < std::tie(b.offset, b.number, b.table);
    });
    anchors.erase(std::unique(anchors.begin(), anchors.end(),
                              [](const Anchor& a, const Anchor& b) {
                                return a.offset == b.offset && a.number == b.number &&
                                       a.table == b.table;
                              }),
                  anchors.end());
    return Place(length, anchors, placed, pieces);
  }

  // The text of the last table if it starts at window offset `table` and its trailer's
  // "startxref" is the one at `tail`: both in one unit, or the table's unit ending where the
  // tail's unit goes on.
  std::optional<std::string> LastTableText(size_t table, size_t tail) {
    const size_t tail_unit = UnitOf(tail);
    std::string text;
    if (UnitOf(table) == tail_unit) {
      if (table >= tail) return std::nullopt;
      text = window_.substr(table, tail - table);
    } else {
      text = window_.substr(table, UnitOf(table) + unit_ - table) +
             window_.substr(tail_unit, tail - tail_unit);
    }
    std::vector<PdfObjectPlace> ignored;
    const std::optional<size_t> trailer = ParseTable(text, &ignored);
    if (!trailer || !PdfTrailerPrev(text, *trailer)) return std::nullopt;
    return text;
  }

  // The table at the start of `text`, within the bound on tables parsed.
  std::optional<size_t> ParseTable(std::string_view text, std::vector<PdfObjectPlace>* objects) {
    if (++table_parses_ > kMaxTableParses) return std::nullopt;
    return ParsePdfXrefTable(text, 0, objects);
  }

  // Just past the "%%EOF" after the "startxref" at `tail`, and its line end.
  size_t EofEnd(size_t tail) const {
    size_t end = window_.find("%%EOF", tail) + 5;
    const std::string_view text(window_);
    if (text.substr(end).starts_with("\r\n")) return end + 2;
    if (end < text.size() && (text[end] == '\n' || text[end] == '\r')) return end + 1;
    return end;
  }

  // The last table (its text `text`, at file offset `offset`) and those its /Prev chain names.
  bool ReadTables(std::string_view text, uint64_t offset, std::vector<Anchor>* anchors) {
    std::vector<uint64_t> seen;
    for (;;) {
      std::vector<PdfObjectPlace> objects;
      const std::optional<size_t> trailer = ParseTable(text, &objects);
      if (!trailer) return false;
      const std::optional<uint64_t> prev = PdfTrailerPrev(text, *trailer);
      if (!prev) return false;
      anchors->push_back({offset, 0, true});
      for (const PdfObjectPlace& object : objects) {
        anchors->push_back({object.offset, object.number, false});
      }
      if (anchors->size() > kMaxAnchors) return false;
      seen.push_back(offset);
      if (*prev == 0) return true;
      if (seen.size() == kMaxTables || std::count(seen.begin(), seen.end(), *prev) != 0) {
        return false;
      }
      const std::optional<size_t> earlier = OnlyTableAt(*prev);
      if (!earlier) return false;
      text = std::string_view(window_).substr(*earlier);
      offset = *prev;
    }
  }

  // The one table in the window that can be at file offset `offset` and parses.
  std::optional<size_t> OnlyTableAt(uint64_t offset) {
    std::optional<size_t> found;
    for (const size_t candidate : tables_) {
      if (!SameInUnit(candidate, offset)) continue;
      std::vector<PdfObjectPlace> ignored;
      if (!ParseTable(std::string_view(window_).substr(candidate), &ignored)) continue;
      if (found) return std::nullopt;
      found = candidate;
    }
    return found;
  }

  // Whether the window unit at `unit` holds `anchor` (which starts in file unit `file_unit`).
  bool Holds(size_t unit, uint64_t file_unit, const Anchor& anchor) const {
    const size_t at = unit + static_cast<size_t>(anchor.offset - file_unit * unit_);
    if (anchor.table) return std::binary_search(tables_.begin(), tables_.end(), at);
    const auto found = headers_.find(anchor.number);
    return found != headers_.end() &&
           std::binary_search(found->second.begin(), found->second.end(), at);
  }

  // Each file unit in its window unit, and the pieces they make.
  bool Place(uint64_t length, const std::vector<Anchor>& anchors,
             std::unordered_map<uint64_t, size_t>& placed, std::vector<FilePiece>* pieces) {
    const uint64_t units = (length + unit_ - 1) / unit_;
    std::vector<size_t> where(static_cast<size_t>(units));
    std::vector<bool> used((window_.size() + unit_ - 1) / unit_ + 1, false);
    const size_t first = static_cast<size_t>(start_ - low_);
    for (uint64_t i = 0; i < units; ++i) {
      std::optional<size_t> unit;
      if (i == 0) {
        unit = first;
      } else if (const auto known = placed.find(i); known != placed.end()) {
        unit = known->second;
      } else {
        unit = UnitHolding(i, anchors, where, used);
      }
      const uint64_t bytes = std::min<uint64_t>(unit_, length - i * unit_);
      if (!unit || *unit + bytes > window_.size() || used[*unit / unit_]) return false;
      used[*unit / unit_] = true;
      where[static_cast<size_t>(i)] = *unit;
    }
    pieces->clear();
    for (uint64_t i = 0; i < units; ++i) {
      const uint64_t bytes = std::min<uint64_t>(unit_, length - i * unit_);
      const uint64_t at = low_ + where[static_cast<size_t>(i)];
      AppendPiece(*pieces, at, bytes);
    }
    PieceSource file(source_, *pieces);
    return file.Size() == length && CheckPdf(file, 0, length) == Whole::kYes;
  }

  // The window unit for file unit `i`: the only free one holding every object and table placed
  // in it; with none placed in it, the unit after file unit i - 1's.
  std::optional<size_t> UnitHolding(uint64_t i, const std::vector<Anchor>& anchors,
                                    const std::vector<size_t>& where,
                                    const std::vector<bool>& used) const {
    std::vector<const Anchor*> inside;
    for (const Anchor& anchor : anchors) {
      if (anchor.offset / unit_ == i && InUnit(anchor.offset) + kHeaderBytes <= unit_) {
        inside.push_back(&anchor);
      }
    }
    if (inside.empty()) return where[static_cast<size_t>(i - 1)] + unit_;
    std::optional<size_t> found;
    for (size_t unit = 0; unit < window_.size(); unit += unit_) {
      if (used[unit / unit_]) continue;
      if (!std::all_of(inside.begin(), inside.end(),
                       [&](const Anchor* anchor) { return Holds(unit, i, *anchor); })) {
        continue;
      }
      if (found) return std::nullopt;  // two units hold them: which one is unknown
      found = unit;
    }
    return found;
  }

  ByteSource& source_;
  uint64_t start_, unit_;
  ByteUnits units_;
  uint64_t low_ = 0;  // the window's first byte in the source
  std::string window_;
  std::unordered_map<uint64_t, std::vector<size_t>> headers_;  // object number -> window offsets
  std::vector<size_t> tables_, tails_;
  uint32_t table_parses_ = 0;
};

}  // namespace

bool WalkPdfFragments(ByteSource& source, uint64_t start, const ByteUnits& units,
                      std::vector<FilePiece>* pieces) {
  return PdfFragmentWalk(source, start, units).Run(pieces);
}

}  // namespace kestrel
