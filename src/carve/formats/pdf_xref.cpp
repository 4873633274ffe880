#include "carve/formats/pdf_xref.h"

#include "carve/formats/pdf_syntax.h"

namespace kestrel {
namespace {

constexpr size_t kMaxObjects = 500000;
constexpr size_t kEntryBytes = 20;

}  // namespace

std::optional<std::string> ReadPdfText(ByteSource& source, uint64_t at, uint64_t n) {
  std::string text(static_cast<size_t>(n), '\0');
  if (!source.ReadExact(at, text.data(), text.size())) return std::nullopt;
  return text;
}

bool AtPdfLineStart(std::string_view text, size_t at) {
  return at == 0 || text[at - 1] == '\n' || text[at - 1] == '\r';
}

std::optional<size_t> ParsePdfXrefTable(std::string_view text, size_t at,
                                        std::vector<PdfObjectPlace>* objects) {
  at += 4;
  for (;;) {
    at = SkipPdfSpace(text, at);
    if (text.substr(at).starts_with("trailer")) return at;
    const std::optional<uint64_t> first = ParsePdfUnsigned(text, &at);
    const std::optional<uint64_t> count = ParsePdfUnsigned(text, &at);
    if (!first || !count || *count > kMaxObjects) return std::nullopt;
    at = SkipPdfSpace(text, at);
    for (uint64_t i = 0; i < *count; ++i, at += kEntryBytes) {
      if (at + kEntryBytes > text.size() || objects->size() == kMaxObjects) return std::nullopt;
      size_t field = at;
      const std::optional<uint64_t> offset = ParsePdfUnsigned(text, &field);
      if (!offset || !ParsePdfUnsigned(text, &field)) return std::nullopt;
      field = SkipPdfSpace(text, field);
      if (field >= text.size() || (text[field] != 'n' && text[field] != 'f')) return std::nullopt;
      if (text[field] == 'n' && *offset != 0) objects->push_back({*offset, *first + i, false});
    }
  }
}

std::optional<uint64_t> PdfTrailerPrev(std::string_view text, size_t at) {
  at += 7;
  PdfValue trailer;
  if (!ParsePdfValue(text, &at, &trailer) || trailer.kind != PdfValue::Kind::kDict ||
      trailer.Find("XRefStm") != nullptr) {
    return std::nullopt;
  }
  const PdfValue* prev = trailer.Find("Prev");
  if (prev == nullptr) return 0;
  const std::optional<int64_t> offset = prev->Integer();
  if (!offset || *offset <= 0) return std::nullopt;
  return static_cast<uint64_t>(*offset);
}

}  // namespace kestrel
