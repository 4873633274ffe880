#include "carve/formats/pdf_check.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <vector>

#include "carve/formats/check_window.h"
#include "carve/formats/inflate_range.h"
#include "carve/formats/jpeg_entropy.h"
#include "carve/formats/pdf_syntax.h"

namespace kestrel {
namespace {

constexpr size_t kMaxObjects = 500'000;
constexpr size_t kMaxSections = 1'000;
constexpr uint64_t kMaxTableEntries = 2'000'000;
constexpr uint64_t kMaxPayloadBytes = uint64_t{256} << 20;
// Where the final "%%EOF" and its "startxref" are looked for.
constexpr size_t kTailBytes = 1024;
// Bytes of an object, trailer or cross-reference stream dictionary parsed at once.
constexpr size_t kPieceBytes = 16 * 1024;
// Whitespace allowed between a stream's data and "endstream"; bytes a writer may count too many.
constexpr uint64_t kEndstreamSlack = 32;
constexpr uint64_t kEndstreamOvercount = 2;
constexpr std::string_view kEndstream = "endstream";
// A Flate stream at least this long must end with a right checksum. Some writers get the
// checksum of a short stream wrong, and readers do not look at it; a foreign block over a stream
// shorter than a block also breaks the object headers or "endstream" around it.
constexpr uint64_t kChecksummedStreamBytes = 4096;

enum class Verdict : uint8_t { kOn, kBroken, kUnsupported };

struct Entry {
  uint64_t offset = 0;
  uint64_t number = 0;
};

std::string_view Text(std::span<const uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// The first filter a stream's data goes through, when it names one.
std::string_view FirstFilter(const PdfValue& dictionary) {
  const PdfValue* filter = dictionary.Find("Filter");
  if (filter != nullptr && filter->kind == PdfValue::Kind::kArray && !filter->items.empty()) {
    filter = &filter->items[0];
  }
  return filter != nullptr && filter->kind == PdfValue::Kind::kName ? filter->name : "";
}

// Where a stream's data starts: after "stream" (at `at`, after whitespace) and its line end.
std::optional<size_t> StreamDataStart(std::string_view text, size_t at) {
  at = SkipPdfSpace(text, at);
  if (!text.substr(at).starts_with("stream")) return std::nullopt;
  at += 6;
  if (text.substr(at).starts_with("\r\n")) return at + 2;
  if (at < text.size() && (text[at] == '\n' || text[at] == '\r')) return at + 1;
  return at;
}

// A non-negative integer value of a dictionary.
std::optional<uint64_t> Unsigned(const PdfValue& dictionary, std::string_view key) {
  const PdfValue* value = dictionary.Find(key);
  if (value == nullptr) return std::nullopt;
  const std::optional<int64_t> number = value->Integer();
  if (!number || *number < 0) return std::nullopt;
  return static_cast<uint64_t>(*number);
}

bool IsName(const PdfValue* value, std::string_view name) {
  return value != nullptr && value->kind == PdfValue::Kind::kName && value->name == name;
}

// Undoes the PNG row predictors of a cross-reference stream (one byte per sample): every row
// starts with its filter type.
bool UndoPngRows(std::vector<uint8_t>& data, size_t columns) {
  const size_t row = columns + 1;
  std::vector<uint8_t> previous(columns, 0);
  size_t out = 0;
  for (size_t at = 0; at + row <= data.size(); at += row) {
    const uint8_t type = data[at];
    uint8_t* line = &data[at + 1];
    for (size_t i = 0; i < columns; ++i) {
      const int left = i > 0 ? line[i - 1] : 0, up = previous[i];
      const int upper_left = i > 0 ? previous[i - 1] : 0;
      int add = 0;
      if (type == 1) add = left;
      if (type == 2) add = up;
      if (type == 3) add = (left + up) / 2;
      if (type == 4) {
        const int p = left + up - upper_left;
        const int pa = std::abs(p - left), pb = std::abs(p - up), pc = std::abs(p - upper_left);
        add = pa <= pb && pa <= pc ? left : (pb <= pc ? up : upper_left);
      }
      if (type > 4) return false;
      line[i] = static_cast<uint8_t>(line[i] + add);
    }
    std::copy(line, line + columns, previous.begin());
    std::copy(line, line + columns, data.begin() + static_cast<ptrdiff_t>(out));
    out += columns;
  }
  data.resize(out);
  return true;
}

// The fields of a cross-reference stream's dictionary that say how to read its rows.
struct XrefLayout {
  uint32_t widths[3] = {};
  size_t row = 0;                                     // bytes per entry
  std::vector<std::pair<uint64_t, uint64_t>> ranges;  // first object number, count
  uint64_t entries = 0;
  size_t predictor_columns = 0;  // 0: no PNG predictor
};

std::optional<XrefLayout> ReadXrefLayout(const PdfValue& dictionary) {
  XrefLayout layout;
  const PdfValue* widths = dictionary.Find("W");
  if (widths == nullptr || widths->kind != PdfValue::Kind::kArray || widths->items.size() != 3) {
    return std::nullopt;
  }
  for (size_t k = 0; k < 3; ++k) {
    const std::optional<int64_t> width = widths->items[k].Integer();
    if (!width || *width < 0 || *width > 8) return std::nullopt;
    layout.widths[k] = static_cast<uint32_t>(*width);
    layout.row += layout.widths[k];
  }
  if (layout.row == 0) return std::nullopt;
  const PdfValue* index = dictionary.Find("Index");
  if (index == nullptr) {
    const std::optional<uint64_t> size = Unsigned(dictionary, "Size");
    if (!size) return std::nullopt;
    layout.ranges.push_back({0, *size});
  } else {
    if (index->kind != PdfValue::Kind::kArray || index->items.size() % 2 != 0) return std::nullopt;
    for (size_t k = 0; k < index->items.size(); k += 2) {
      const std::optional<int64_t> first = index->items[k].Integer();
      const std::optional<int64_t> count = index->items[k + 1].Integer();
      if (!first || !count || *first < 0 || *count < 0) return std::nullopt;
      layout.ranges.push_back({static_cast<uint64_t>(*first), static_cast<uint64_t>(*count)});
    }
  }
  for (const auto& range : layout.ranges) {
    layout.entries += range.second;
    if (layout.entries > kMaxTableEntries) return std::nullopt;
  }
  const PdfValue* parameters = dictionary.Find("DecodeParms");
  if (parameters != nullptr && parameters->kind == PdfValue::Kind::kArray &&
      parameters->items.size() == 1) {
    parameters = &parameters->items[0];
  }
  if (parameters != nullptr && parameters->kind == PdfValue::Kind::kDict) {
    const uint64_t predictor = Unsigned(*parameters, "Predictor").value_or(1);
    const uint64_t columns = Unsigned(*parameters, "Columns").value_or(1);
    if (predictor >= 10 && columns == layout.row) {
      layout.predictor_columns = layout.row;
    } else if (predictor != 1) {
      return std::nullopt;
    }
  }
  return layout;
}

uint64_t Field(const uint8_t* bytes, uint32_t width) {
  uint64_t value = 0;
  for (uint32_t k = 0; k < width; ++k) value = value << 8 | bytes[k];
  return value;
}

class PdfCheck {
 public:
  PdfCheck(ByteSource& source, uint64_t start, uint64_t length)
      : source_(source),
        start_(start),
        window_(source, start, length),
        lookup_(source, start, length, 4096) {}

  Whole Run() {
    bool has_eof = false;
    const std::optional<uint64_t> startxref = LastStartxref(&has_eof);
    if (!has_eof) return Whole::kNo;  // the end record is missing: cut short
    if (!startxref || *startxref == 0) return Whole::kUnchecked;
    if (*startxref >= length()) return Whole::kNo;
    if (LinearisedBeyondEnd()) return Whole::kNo;
    Verdict verdict = ReadSections(*startxref);
    if (verdict == Verdict::kOn) verdict = CheckObjects();
    if (window_.failed() || lookup_.failed()) return Whole::kUnchecked;
    if (verdict == Verdict::kBroken) return Whole::kNo;
    return verdict == Verdict::kUnsupported || unsupported_ ? Whole::kUnchecked : Whole::kYes;
  }

 private:
  uint64_t length() const { return window_.length(); }

  // The offset the last "startxref" names; `has_eof` when an "%%EOF" ends the file.
  std::optional<uint64_t> LastStartxref(bool* has_eof) {
    const uint64_t from = length() > kTailBytes ? length() - kTailBytes : 0;
    const std::string_view tail = Text(window_.At(from, kTailBytes));
    const size_t eof = tail.rfind("%%EOF");
    *has_eof = eof != std::string_view::npos;
    if (!*has_eof) return std::nullopt;
    size_t at = tail.substr(0, eof).rfind("startxref");
    if (at == std::string_view::npos) return std::nullopt;
    at += 9;
    return ParsePdfUnsigned(tail.substr(0, eof), &at);
  }

  // A linearised file says how long it is (/L); one cut short is shorter.
  bool LinearisedBeyondEnd() {
    const std::string_view head = Text(window_.At(0, kTailBytes));
    const size_t object = head.find(" obj");
    if (object == std::string_view::npos) return false;
    size_t at = object + 4;
    PdfValue dictionary;
    if (!ParsePdfValue(head, &at, &dictionary) || dictionary.Find("Linearized") == nullptr) {
      return false;
    }
    const std::optional<uint64_t> claimed = Unsigned(dictionary, "L");
    return claimed && *claimed > length();
  }

  // ---------------------------------------------------------------------------------------
  // Cross-reference sections.

  Verdict ReadSections(uint64_t first) {
    std::vector<uint64_t> pending{first}, visited;
    while (!pending.empty() && !capped_) {
      const uint64_t offset = pending.back();
      pending.pop_back();
      if (std::find(visited.begin(), visited.end(), offset) != visited.end()) continue;
      if (visited.size() >= kMaxSections) break;
      visited.push_back(offset);
      if (offset >= length()) return Verdict::kBroken;
      std::vector<uint64_t> next;
      const Verdict verdict = ReadSection(offset, &next);
      if (verdict == Verdict::kBroken) return verdict;
      if (verdict == Verdict::kUnsupported) unsupported_ = true;
      // A hybrid file's stream (pushed last) is read before the /Prev chain goes on.
      pending.insert(pending.end(), next.begin(), next.end());
    }
    return Verdict::kOn;
  }

  Verdict ReadSection(uint64_t offset, std::vector<uint64_t>* next) {
    const std::string_view text = Text(window_.At(offset, kPieceBytes));
    const size_t at = SkipPdfSpace(text, 0);
    if (text.substr(at).starts_with("xref")) return ReadTable(offset + at + 4, next);
    const std::optional<PdfObjectHeader> header = ParsePdfObjectHeader(text, at);
    if (!header) return text.empty() ? Verdict::kUnsupported : Verdict::kBroken;
    return ReadXrefStream(offset, text, header->end, next);
  }

  void SkipTableSpace(uint64_t* at) {
    for (int c = window_.Byte(*at); c >= 0 && IsPdfWhitespace(static_cast<uint8_t>(c));) {
      c = window_.Byte(++*at);
    }
  }

  // The whitespace at `*at` and the unsigned number after it.
  std::optional<uint64_t> TableNumber(uint64_t* at) {
    SkipTableSpace(at);
    uint64_t value = 0;
    size_t digits = 0;
    for (int c = window_.Byte(*at); c >= '0' && c <= '9'; c = window_.Byte(++*at)) {
      if (++digits > 18) return std::nullopt;
      value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (digits == 0) return std::nullopt;
    return value;
  }

  // A classic table from `at` (after "xref") to its trailer.
  Verdict ReadTable(uint64_t at, std::vector<uint64_t>* next) {
    for (;;) {
      const std::string_view ahead = Text(window_.At(at, kPieceBytes));
      const size_t word = SkipPdfSpace(ahead, 0);
      if (ahead.substr(word).starts_with("trailer")) return ReadTrailer(at + word + 7, next);
      const std::optional<uint64_t> first = TableNumber(&at);
      const std::optional<uint64_t> count = TableNumber(&at);
      if (!first || !count) return Verdict::kBroken;
      for (uint64_t k = 0; k < *count; ++k) {
        if (++table_entries_ > kMaxTableEntries) return Capped();
        const std::optional<uint64_t> offset = TableNumber(&at);
        if (!offset || !TableNumber(&at)) return Verdict::kBroken;
        SkipTableSpace(&at);
        const int type = window_.Byte(at++);
        if (type != 'n' && type != 'f') return Verdict::kBroken;
        if (type == 'n' && !Use({*offset, *first + k})) return Capped();
      }
    }
  }

  Verdict ReadTrailer(uint64_t at, std::vector<uint64_t>* next) {
    const std::string_view text = Text(window_.At(at, kPieceBytes));
    size_t i = 0;
    PdfValue trailer;
    if (!ParsePdfValue(text, &i, &trailer) || trailer.kind != PdfValue::Kind::kDict) {
      return Verdict::kUnsupported;
    }
    TakeTrailer(trailer, next);
    if (const std::optional<uint64_t> stream = Unsigned(trailer, "XRefStm")) {
      next->push_back(*stream);
    }
    return Verdict::kOn;
  }

  void TakeTrailer(const PdfValue& trailer, std::vector<uint64_t>* next) {
    if (trailer.Find("Encrypt") != nullptr) encrypted_ = true;
    if (const std::optional<uint64_t> prev = Unsigned(trailer, "Prev")) next->push_back(*prev);
  }

  // An in-use entry: object 0 and offset 0 stand for no object (writers mark free ones so).
  bool Use(const Entry& entry) {
    if (entry.number == 0 || entry.offset == 0) {
      zero_offsets_ = zero_offsets_ || entry.offset == 0;
      return true;
    }
    if (entries_.size() >= kMaxObjects) return false;
    entries_.push_back(entry);
    return true;
  }

  Verdict Capped() {
    capped_ = true;
    return Verdict::kOn;
  }

  // A cross-reference stream: the object at `offset`, its dictionary at `at` of `text`.
  Verdict ReadXrefStream(uint64_t offset, std::string_view text, size_t at,
                         std::vector<uint64_t>* next) {
    PdfValue dictionary;
    if (!ParsePdfValue(text, &at, &dictionary)) return Verdict::kUnsupported;
    if (!IsName(dictionary.Find("Type"), "XRef")) return Verdict::kBroken;
    const std::optional<size_t> data = StreamDataStart(text, at);
    const std::optional<uint64_t> size = Unsigned(dictionary, "Length");
    const std::optional<XrefLayout> layout = ReadXrefLayout(dictionary);
    const std::string_view filter = FirstFilter(dictionary);
    if (!data || !size || !layout || !(filter.empty() || filter == "FlateDecode")) {
      return Verdict::kUnsupported;
    }
    const uint64_t start = offset + *data;
    if (*size > length() - std::min(length(), start) || !EndstreamAt(start + *size)) {
      return Verdict::kBroken;
    }
    TakeTrailer(dictionary, next);
    const size_t row = layout->row + (layout->predictor_columns != 0 ? 1 : 0);
    const uint64_t wanted = layout->entries * row;
    std::vector<uint8_t> rows;
    if (filter.empty()) {
      if (*size < wanted) return Verdict::kBroken;
      for (uint64_t k = 0; k < wanted;) {
        const std::span<const uint8_t> bytes =
            window_.At(start + k, static_cast<size_t>(std::min<uint64_t>(wanted - k, 4096)));
        if (bytes.empty()) return Verdict::kUnsupported;
        rows.insert(rows.end(), bytes.begin(), bytes.end());
        k += bytes.size();
      }
    } else {
      uint64_t produced = 0;
      const Inflated inflated = InflateRange(window_, start, *size, wanted, &rows, &produced);
      if (inflated == Inflated::kBroken) return Verdict::kBroken;
      if (inflated == Inflated::kUnreadable || inflated == Inflated::kNoHeader) {
        return Verdict::kUnsupported;
      }
    }
    if (rows.size() < wanted) return Verdict::kBroken;
    rows.resize(static_cast<size_t>(wanted));
    if (layout->predictor_columns != 0 && !UndoPngRows(rows, layout->predictor_columns)) {
      return Verdict::kBroken;
    }
    return TakeStreamEntries(*layout, rows);
  }

  Verdict TakeStreamEntries(const XrefLayout& layout, const std::vector<uint8_t>& rows) {
    const uint8_t* row = rows.data();
    for (const auto& [first, count] : layout.ranges) {
      for (uint64_t k = 0; k < count; ++k, row += layout.row) {
        if (++table_entries_ > kMaxTableEntries) return Capped();
        const uint64_t type = layout.widths[0] == 0 ? 1 : Field(row, layout.widths[0]);
        const uint64_t offset = Field(row + layout.widths[0], layout.widths[1]);
        if (type == 1 && !Use({offset, first + k})) return Capped();
      }
    }
    return Verdict::kOn;
  }

  // ---------------------------------------------------------------------------------------
  // Objects and their streams.

  Verdict CheckObjects() {
    if (entries_.empty()) return zero_offsets_ ? Verdict::kUnsupported : Verdict::kOn;
    // Lengths are looked up by number, the newest section's entry first.
    by_number_ = entries_;
    std::stable_sort(by_number_.begin(), by_number_.end(),
                     [](const Entry& a, const Entry& b) { return a.number < b.number; });
    by_number_.erase(
        std::unique(by_number_.begin(), by_number_.end(),
                    [](const Entry& a, const Entry& b) { return a.number == b.number; }),
        by_number_.end());
    // The objects in file order: the file is read forwards once.
    std::sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) {
      return a.offset != b.offset ? a.offset < b.offset : a.number < b.number;
    });
    for (size_t k = 0; k < entries_.size(); ++k) {
      const Entry& entry = entries_[k];
      if (k > 0 && entries_[k - 1].offset == entry.offset) {
        if (entries_[k - 1].number != entry.number) return Verdict::kBroken;
        continue;
      }
      const Verdict verdict = CheckObject(entry);
      if (verdict != Verdict::kOn) return verdict;
    }
    return Verdict::kOn;
  }

  Verdict CheckObject(const Entry& entry) {
    if (entry.offset >= length()) return Verdict::kBroken;
    const std::string_view text = Text(window_.At(entry.offset, kPieceBytes));
    const std::optional<PdfObjectHeader> header = ParsePdfObjectHeader(text, 0);
    if (!header || header->number != entry.number) {
      return text.empty() ? Verdict::kUnsupported : Verdict::kBroken;
    }
    size_t at = header->end;
    PdfValue dictionary;
    // A value that does not parse (a writer's slip, or longer than the piece) is not judged.
    if (!ParsePdfValue(text, &at, &dictionary) || dictionary.kind != PdfValue::Kind::kDict) {
      return Verdict::kOn;
    }
    const std::optional<size_t> data = StreamDataStart(text, at);
    const std::optional<uint64_t> size = StreamLength(dictionary);
    if (!data || !size) return Verdict::kOn;
    return CheckStream(entry.offset + *data, *size, dictionary);
  }

  // A stream's /Length: direct, or the integer object a table places.
  std::optional<uint64_t> StreamLength(const PdfValue& dictionary) {
    const PdfValue* value = dictionary.Find("Length");
    if (value == nullptr || value->kind != PdfValue::Kind::kRef) {
      return Unsigned(dictionary, "Length");
    }
    const uint64_t number = static_cast<uint64_t>(value->number);
    const auto found =
        std::lower_bound(by_number_.begin(), by_number_.end(), number,
                         [](const Entry& entry, uint64_t n) { return entry.number < n; });
    if (found == by_number_.end() || found->number != number) return std::nullopt;
    const std::string_view text = Text(lookup_.At(found->offset, lookup_.capacity()));
    const std::optional<PdfObjectHeader> header = ParsePdfObjectHeader(text, 0);
    if (!header || header->number != number) return std::nullopt;
    size_t at = header->end;
    PdfValue length_value;
    if (!ParsePdfValue(text, &at, &length_value)) return std::nullopt;
    const std::optional<int64_t> length_number = length_value.Integer();
    if (!length_number || *length_number < 0) return std::nullopt;
    return static_cast<uint64_t>(*length_number);
  }

  // The data is decoded first, then its end looked at: the window moves forwards only.
  Verdict CheckStream(uint64_t data, uint64_t size, const PdfValue& dictionary) {
    if (data > length() || size > length() - data) return Verdict::kBroken;
    if (!PayloadDecodes(data, size, dictionary)) return Verdict::kBroken;
    return EndstreamAt(data + size) ? Verdict::kOn : Verdict::kBroken;
  }

  // False when the data of a Flate or DCT stream breaks off.
  bool PayloadDecodes(uint64_t data, uint64_t size, const PdfValue& dictionary) {
    if (encrypted_ || size > payload_budget_) return true;
    payload_budget_ -= size;
    const std::string_view filter = FirstFilter(dictionary);
    if (filter == "DCTDecode") {
      return CheckJpegEntropy(source_, start_ + data, size).verdict != JpegVerdict::kBroken;
    }
    if (filter != "FlateDecode") return true;
    uint64_t produced = 0;
    const Inflated inflated =
        InflateRange(window_, data, size, payload_budget_, nullptr, &produced);
    payload_budget_ -= std::min(payload_budget_, produced);
    if (inflated == Inflated::kBadChecksum || inflated == Inflated::kRanOut) {
      return size < kChecksummedStreamBytes;
    }
    return inflated != Inflated::kBroken;
  }

  // Whether "endstream" follows a stream's data that ends at `end`.
  bool EndstreamAt(uint64_t end) {
    const uint64_t from = end - std::min(end, kEndstreamOvercount);
    const std::string_view text = Text(
        window_.At(from, static_cast<size_t>(end - from + kEndstreamSlack + kEndstream.size())));
    size_t at = static_cast<size_t>(end - from);
    for (size_t back = 0; back <= at; ++back) {
      if (text.substr(at - back).starts_with(kEndstream)) return true;
    }
    while (at < text.size() && IsPdfWhitespace(static_cast<uint8_t>(text[at]))) ++at;
    return text.substr(at).starts_with(kEndstream);
  }

  ByteSource& source_;
  uint64_t start_;
  CheckWindow window_;            // sections, objects and stream data, read forwards
  CheckWindow lookup_;            // the objects that hold indirect stream lengths
  std::vector<Entry> entries_;    // the in-use objects the sections place in the file
  std::vector<Entry> by_number_;  // the same by object number, one entry each
  uint64_t table_entries_ = 0;
  uint64_t payload_budget_ = kMaxPayloadBytes;
  bool encrypted_ = false;
  bool unsupported_ = false;  // a section was not read: the file is not fully known
  bool capped_ = false;       // a cap ended the reading of sections
  bool zero_offsets_ = false;
};

}  // namespace

Whole CheckPdf(ByteSource& source, uint64_t start, uint64_t length) {
  return PdfCheck(source, start, length).Run();
}

}  // namespace kestrel
