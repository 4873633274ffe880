#include "carve/formats/pdf_reassembly.h"

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>

#include "carve/formats/check_window.h"
#include "carve/formats/inflate_range.h"
#include "carve/formats/offset_reassembly.h"
#include "carve/formats/pdf_fragment_walk.h"
#include "carve/formats/pdf_syntax.h"
#include "carve/formats/pdf_xref.h"

namespace kestrel {
namespace {

constexpr size_t kTailBytes = 1024;
constexpr uint64_t kTableSearchBytes = uint64_t{4} << 20;
constexpr uint64_t kMaxObjectBytes = uint64_t{16} << 20;
constexpr size_t kMaxTables = 1000;
// What the gap starts tried may read of the parts, at least (eight times the file otherwise).
constexpr uint64_t kMinReadBudget = uint64_t{256} << 20;

class PdfReassembly {
 public:
  PdfReassembly(ByteSource& source, uint64_t start, uint64_t length, const ByteUnits& units)
      : source_(source),
        start_(start),
        length_(length),
        units_(units),
        read_budget_(std::max(kMinReadBudget, length * 8)) {}

  bool Run(std::vector<FilePiece>* pieces) {
    std::vector<PdfObjectPlace> parts;
    if (!ReadTables(&parts)) return false;
    std::stable_sort(parts.begin(), parts.end(),
                     [](const auto& a, const auto& b) { return a.offset < b.offset; });
    // An object placed twice (by a revision and its update) is one part.
    parts.erase(std::unique(parts.begin(), parts.end(),
                            [](const auto& a, const auto& b) { return a.offset == b.offset; }),
                parts.end());
    if (parts.size() < 2 || parts[0].table || !parts.back().table ||
        !ObjectAt(start_ + parts[0].offset, parts[0])) {
      return false;
    }
    const PdfObjectPlace& last = parts.back();
    OffsetReassembly walk(source_, start_, length_, units_, last.table_at - start_ - last.offset);
    for (size_t k = 1; k < parts.size(); ++k) {
      const PdfObjectPlace& previous = parts[k - 1];
      const PdfObjectPlace& next = parts[k];
      const auto whole = [&](ByteSource& file) {
        // Each gap start tried reads the part again: the reads are bounded in all.
        const uint64_t part = next.offset - previous.offset;
        if (part > read_budget_) return false;
        read_budget_ -= part;
        return previous.table ? TableWhole(file, previous.offset, next.offset)
                              : ObjectWhole(file, previous.offset, next.offset);
      };
      const auto found_at = [&](uint64_t at) {
        return next.table ? at == next.table_at : ObjectAt(at, next);
      };
      if (!walk.Follow(next.offset, walk.SourceOf(previous.offset), found_at, whole,
                       OffsetReassembly::Choice::kOnly)) {
        return false;
      }
    }
    if (!walk.AllGapsFound()) return false;
    *pieces = walk.Pieces();
    return true;
  }

 private:
  // Every revision's classic table, from the last one's "startxref" back through /Prev: the
  // objects they place, and each table with where it really lies (further on by whole units).
  bool ReadTables(std::vector<PdfObjectPlace>* parts) {
    const uint64_t tail_bytes = std::min<uint64_t>(length_, kTailBytes);
    const std::optional<std::string> tail =
        ReadPdfText(source_, start_ + length_ - tail_bytes, tail_bytes);
    if (!tail) return false;
    const size_t mark = tail->rfind("startxref");
    if (mark == std::string::npos) return false;
    size_t at = mark + 9;
    const std::optional<uint64_t> offset = ParsePdfUnsigned(*tail, &at);
    const uint64_t mark_at = length_ - tail_bytes + mark;
    if (!offset || *offset == 0 || *offset >= mark_at) return false;
    // The last table: the "xref" at a line start nearest before the last trailer.
    const uint64_t from = mark_at - std::min(mark_at, kTableSearchBytes);
    const std::optional<std::string> text = ReadPdfText(source_, start_ + from, mark_at - from);
    if (!text) return false;
    const size_t trailer = text->rfind("trailer");
    if (trailer == std::string::npos) return false;
    size_t keyword = text->rfind("xref", trailer);
    while (keyword != std::string::npos && !AtPdfLineStart(*text, keyword)) {
      keyword = keyword == 0 ? std::string::npos : text->rfind("xref", keyword - 1);
    }
    if (keyword == std::string::npos || from + keyword <= *offset) return false;
    const uint64_t total_gap = from + keyword - *offset;
    if (total_gap % units_.bytes != 0) return false;
    std::optional<uint64_t> prev =
        TakeTable(*text, keyword, *offset, start_ + from + keyword, parts);
    std::vector<uint64_t> seen{*offset};
    while (prev && *prev != 0) {
      if (seen.size() == kMaxTables || std::find(seen.begin(), seen.end(), *prev) != seen.end()) {
        return false;
      }
      seen.push_back(*prev);
      const std::optional<uint64_t> found = FindTable(*prev, total_gap);
      if (!found) return false;
      const uint64_t room = start_ + length_ - *found;
      const std::optional<std::string> section =
          ReadPdfText(source_, *found, std::min(room, kTableSearchBytes));
      if (!section) return false;
      prev = TakeTable(*section, 0, *prev, *found, parts);
    }
    return prev.has_value();
  }

  // The table at `at` of `text` (file offset `offset`, source offset `table_at`) and the objects
  // it places, added to `parts`; its trailer's /Prev (0: none), none when it is broken.
  static std::optional<uint64_t> TakeTable(std::string_view text, size_t at, uint64_t offset,
                                           uint64_t table_at, std::vector<PdfObjectPlace>* parts) {
    const std::optional<size_t> trailer = ParsePdfXrefTable(text, at, parts);
    if (!trailer) return std::nullopt;
    parts->push_back({offset, 0, true, table_at});
    return PdfTrailerPrev(text, *trailer);
  }

  // Where the table that the file places at `offset` lies: there, or whole units further on.
  std::optional<uint64_t> FindTable(uint64_t offset, uint64_t total_gap) {
    for (uint64_t gap = 0; gap <= total_gap; gap += units_.bytes) {
      const uint64_t at = start_ + offset + gap;
      char bytes[5] = {};
      if (at + sizeof bytes <= start_ + length_ && source_.ReadExact(at, bytes, sizeof bytes) &&
          std::string_view(bytes, 4) == "xref" && IsPdfWhitespace(static_cast<uint8_t>(bytes[4]))) {
        return at;
      }
    }
    return std::nullopt;
  }

  // Whether the revision's end at `from` of `file` is whole up to `to`: its table, trailer,
  // "startxref" and "%%EOF".
  static bool TableWhole(ByteSource& file, uint64_t from, uint64_t to) {
    if (to <= from || to - from > kTableSearchBytes) return false;
    const std::optional<std::string> text = ReadPdfText(file, from, to - from);
    if (!text || !text->starts_with("xref")) return false;
    std::vector<PdfObjectPlace> ignored;
    const std::optional<size_t> trailer = ParsePdfXrefTable(*text, 0, &ignored);
    if (!trailer || !PdfTrailerPrev(*text, *trailer)) return false;
    size_t end = text->size();
    while (end > 0 && IsPdfWhitespace(static_cast<uint8_t>((*text)[end - 1]))) --end;
    return text->find("startxref", *trailer) != std::string::npos &&
           std::string_view(*text).substr(0, end).ends_with("%%EOF");
  }

  bool ObjectAt(uint64_t at, const PdfObjectPlace& object) {
    char bytes[40] = {};
    const int64_t got = source_.ReadAt(at, bytes, sizeof bytes);
    if (got <= 0) return false;
    const std::optional<PdfObjectHeader> header =
        ParsePdfObjectHeader(std::string_view(bytes, static_cast<size_t>(got)), 0);
    return header && header->number == object.number;
  }

  // Whether the object at `from` of `file` is whole up to `to`, where the next part starts.
  static bool ObjectWhole(ByteSource& file, uint64_t from, uint64_t to) {
    if (to <= from || to - from > kMaxObjectBytes) return false;
    const std::optional<std::string> text = ReadPdfText(file, from, to - from);
    if (!text) return false;
    const std::string_view body(*text);
    const std::optional<PdfObjectHeader> header = ParsePdfObjectHeader(body, 0);
    if (!header) return false;
    size_t at = header->end;
    PdfValue value;
    if (!ParsePdfValue(body, &at, &value)) return false;
    at = SkipPdfSpace(body, at);
    if (body.substr(at).starts_with("stream")) {
      if (!StreamWhole(file, from, body, at, value)) return false;
      at = body.rfind("endstream") + 9;
    }
    at = SkipPdfSpace(body, at);
    return body.substr(at).starts_with("endobj") && SkipPdfSpace(body, at + 6) == body.size();
  }

  // The stream after the dictionary `dictionary`, whose keyword is at `at` of `body`: "endstream"
  // at its direct /Length, and Flate data that inflates.
  static bool StreamWhole(ByteSource& file, uint64_t from, std::string_view body, size_t at,
                          const PdfValue& dictionary) {
    at += 6;
    if (body.substr(at).starts_with("\r\n")) {
      at += 2;
    } else if (body.substr(at).starts_with("\n")) {
      at += 1;
    } else {
      return false;
    }
    // A direct /Length places "endstream"; an indirect one (in an object of its own) is not
    // followed: the data then ends at the last "endstream", and only its decoding tells.
    const size_t last = body.rfind("endstream");
    if (last == std::string_view::npos || last < at) return false;
    uint64_t bytes = last - at;
    const PdfValue* length = dictionary.Find("Length");
    if (length != nullptr && length->kind == PdfValue::Kind::kNumber) {
      const std::optional<int64_t> direct = length->Integer();
      if (!direct || *direct < 0 || static_cast<uint64_t>(*direct) > last - at) return false;
      if (SkipPdfSpace(body, at + static_cast<size_t>(*direct)) != last) return false;
      bytes = static_cast<uint64_t>(*direct);
    }
    const PdfValue* filter = dictionary.Find("Filter");
    if (filter == nullptr || filter->kind != PdfValue::Kind::kName ||
        filter->name != "FlateDecode") {
      return true;
    }
    CheckWindow window(file, from, body.size());
    uint64_t produced = 0;
    return InflateRange(window, at, bytes, kMaxObjectBytes * 16, nullptr, &produced) ==
           Inflated::kEnd;
  }

  ByteSource& source_;
  uint64_t start_, length_;
  ByteUnits units_;
  uint64_t read_budget_;
};

}  // namespace

namespace {

// Whether an update starts right after the file's last piece in the source: the revision put
// together goes on with one that was not found.
bool UpdateAfter(ByteSource& source, const std::vector<FilePiece>& pieces) {
  if (pieces.empty()) return false;
  const uint64_t end = pieces.back().source_offset + pieces.back().length;
  char text[64];
  if (end > source.Size() || source.Size() - end < sizeof text ||
      !source.ReadExact(end, text, sizeof text)) {
    return false;
  }
  return PdfUpdateStartsAt(std::string_view(text, sizeof text));
}

}  // namespace

bool ReassemblePdf(ByteSource& source, uint64_t start, uint64_t length, const ByteUnits& units,
                   std::vector<FilePiece>* pieces) {
  if (units.bytes == 0) return false;
  std::vector<FilePiece> in_order, later;
  if (PdfReassembly(source, start, length, units).Run(&in_order)) {
    // A later revision may go on from the one put together, its update lying further off.
    const bool goes_on = WalkPdfFragments(source, start, units, &later) && later != in_order &&
                         PiecesStartWith(later, in_order);
    *pieces = goes_on ? std::move(later) : std::move(in_order);
  } else if (!WalkPdfFragments(source, start, units, pieces)) {
    return false;
  }
  // An earlier revision is not the whole file: no pieces.
  if (UpdateAfter(source, *pieces)) pieces->clear();
  return true;
}

}  // namespace kestrel
