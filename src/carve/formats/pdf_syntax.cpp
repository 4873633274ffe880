#include "carve/formats/pdf_syntax.h"

#include <cctype>

namespace kestrel {
namespace {

// Dictionaries and arrays nested deeper than this are not parsed.
constexpr int kMaxDepth = 32;
// Digits of a number kept: more would not fit in 63 bits.
constexpr size_t kMaxDigits = 18;

bool IsDelimiter(uint8_t c) {
  return c == '(' || c == ')' || c == '<' || c == '>' || c == '[' || c == ']' || c == '{' ||
         c == '}' || c == '/' || c == '%';
}

bool IsRegular(uint8_t c) {
  return !IsPdfWhitespace(c) && !IsDelimiter(c);
}

uint8_t At(std::string_view text, size_t at) {
  return static_cast<uint8_t>(text[at]);
}

bool IsDigitAt(std::string_view text, size_t at) {
  return at < text.size() && std::isdigit(At(text, at));
}

// `at` past a run of regular characters (a name's or keyword's).
size_t SkipRegular(std::string_view text, size_t at) {
  while (at < text.size() && IsRegular(At(text, at))) ++at;
  return at;
}

// `at` past the literal string that opens at `at` ('('), nested parentheses and escapes
// included; npos when it does not close.
size_t SkipLiteralString(std::string_view text, size_t at) {
  int depth = 0;
  for (; at < text.size(); ++at) {
    const char c = text[at];
    if (c == '\\') {
      ++at;
    } else if (c == '(') {
      ++depth;
    } else if (c == ')' && --depth == 0) {
      return at + 1;
    }
  }
  return std::string_view::npos;
}

bool ParseNumber(std::string_view text, size_t* at, PdfValue* value) {
  size_t i = *at;
  const bool negative = text[i] == '-';
  if (text[i] == '+' || text[i] == '-') ++i;
  const size_t first = i;
  int64_t number = 0;
  for (; IsDigitAt(text, i); ++i) {
    if (i - first < kMaxDigits) number = number * 10 + (text[i] - '0');
  }
  const bool integer = i == text.size() || text[i] != '.';
  if (!integer) {
    for (++i; IsDigitAt(text, i);) ++i;
  }
  if (i == first && integer) return false;
  value->kind = PdfValue::Kind::kNumber;
  value->integer = integer;
  value->number = negative ? -number : number;
  *at = i;
  return true;
}

// After the integer just parsed at `*at`: "G R" turns it into a reference.
void TakeReference(std::string_view text, size_t* at, PdfValue* value) {
  if (!value->integer || value->number < 0) return;
  size_t i = SkipPdfSpace(text, *at);
  if (!IsDigitAt(text, i)) return;
  while (IsDigitAt(text, i)) ++i;
  i = SkipPdfSpace(text, i);
  if (i >= text.size() || text[i] != 'R' || (i + 1 < text.size() && IsRegular(At(text, i + 1)))) {
    return;
  }
  value->kind = PdfValue::Kind::kRef;
  *at = i + 1;
}

bool ParseAt(std::string_view text, size_t* at, PdfValue* value, int depth);

// The elements of an array or the pairs of a dictionary, up to `close`.
bool ParseItems(std::string_view text, size_t* at, PdfValue* value, std::string_view close,
                int depth) {
  for (;;) {
    size_t i = SkipPdfSpace(text, *at);
    if (i >= text.size()) return false;
    if (text.substr(i).starts_with(close)) {
      *at = i + close.size();
      return true;
    }
    if (value->kind == PdfValue::Kind::kDict) {
      if (text[i] != '/') return false;
      const size_t end = SkipRegular(text, i + 1);
      value->keys.push_back(text.substr(i + 1, end - i - 1));
      i = end;
    }
    PdfValue item;
    if (!ParseAt(text, &i, &item, depth + 1)) return false;
    value->items.push_back(std::move(item));
    *at = i;
  }
}

bool ParseAt(std::string_view text, size_t* at, PdfValue* value, int depth) {
  if (depth > kMaxDepth) return false;
  size_t i = SkipPdfSpace(text, *at);
  if (i >= text.size()) return false;
  const char c = text[i];
  *value = PdfValue{};
  if (c == '/') {
    const size_t end = SkipRegular(text, i + 1);
    value->kind = PdfValue::Kind::kName;
    value->name = text.substr(i + 1, end - i - 1);
    *at = end;
    return true;
  }
  if (c == '<' && i + 1 < text.size() && text[i + 1] == '<') {
    value->kind = PdfValue::Kind::kDict;
    *at = i + 2;
    return ParseItems(text, at, value, ">>", depth);
  }
  if (c == '[') {
    value->kind = PdfValue::Kind::kArray;
    *at = i + 1;
    return ParseItems(text, at, value, "]", depth);
  }
  if (c == '(' || c == '<') {
    const size_t end = c == '(' ? SkipLiteralString(text, i) : text.find('>', i);
    if (end == std::string_view::npos) return false;
    value->kind = PdfValue::Kind::kString;
    *at = c == '(' ? end : end + 1;
    return true;
  }
  if (c == '+' || c == '-' || c == '.' || std::isdigit(static_cast<uint8_t>(c))) {
    *at = i;
    if (!ParseNumber(text, at, value)) return false;
    TakeReference(text, at, value);
    return true;
  }
  if (!IsRegular(static_cast<uint8_t>(c))) return false;
  *at = SkipRegular(text, i);  // true, false, null or another keyword
  return true;
}

}  // namespace

const PdfValue* PdfValue::Find(std::string_view key) const {
  if (kind != Kind::kDict) return nullptr;
  for (size_t k = 0; k < keys.size(); ++k) {
    if (keys[k] == key) return &items[k];
  }
  return nullptr;
}

std::optional<int64_t> PdfValue::Integer() const {
  if (kind != Kind::kNumber || !integer) return std::nullopt;
  return number;
}

size_t SkipPdfSpace(std::string_view text, size_t at) {
  while (at < text.size()) {
    if (text[at] == '%') {
      while (at < text.size() && text[at] != '\n' && text[at] != '\r') ++at;
    } else if (IsPdfWhitespace(At(text, at))) {
      ++at;
    } else {
      break;
    }
  }
  return at;
}

bool ParsePdfValue(std::string_view text, size_t* at, PdfValue* value) {
  return ParseAt(text, at, value, 0);
}

std::optional<uint64_t> ParsePdfUnsigned(std::string_view text, size_t* at) {
  size_t i = SkipPdfSpace(text, *at);
  const size_t first = i;
  uint64_t number = 0;
  for (; IsDigitAt(text, i); ++i) {
    if (i - first >= kMaxDigits) return std::nullopt;
    number = number * 10 + static_cast<uint64_t>(text[i] - '0');
  }
  if (i == first) return std::nullopt;
  *at = i;
  return number;
}

std::optional<PdfObjectHeader> ParsePdfObjectHeader(std::string_view text, size_t at) {
  const std::optional<uint64_t> number = ParsePdfUnsigned(text, &at);
  if (!number || !ParsePdfUnsigned(text, &at)) return std::nullopt;
  at = SkipPdfSpace(text, at);
  if (!text.substr(at).starts_with("obj")) return std::nullopt;
  at += 3;
  if (at < text.size() && IsRegular(At(text, at))) return std::nullopt;
  return PdfObjectHeader{*number, at};
}

bool PdfUpdateStartsAt(std::string_view text) {
  const size_t at = SkipPdfSpace(text, 0);
  return text.substr(at).starts_with("xref") || ParsePdfObjectHeader(text, at).has_value();
}

}  // namespace kestrel
