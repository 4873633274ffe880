#pragma once
// The pieces of PDF syntax the whole-file check reads: values (numbers, names, references,
// arrays, dictionaries, strings) parsed from a bounded piece of the file, and object headers
// "N G obj". A value that does not end inside the piece is not parsed, so the parse never reads
// past it; nesting is bounded too.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace kestrel {

struct PdfValue {
  enum class Kind : uint8_t { kOther, kNumber, kName, kRef, kArray, kDict, kString };
  Kind kind = Kind::kOther;
  bool integer = false;
  int64_t number = 0;                  // kNumber (its integer part); kRef: the object number
  std::string_view name;               // kName, without its slash
  std::vector<PdfValue> items;         // kArray: the elements; kDict: the values
  std::vector<std::string_view> keys;  // kDict: the keys, without their slashes

  // The value of `key` in a dictionary; null when absent or when this is no dictionary.
  const PdfValue* Find(std::string_view key) const;
  // The integer this value is, when it is one.
  std::optional<int64_t> Integer() const;
};

inline bool IsPdfWhitespace(uint8_t c) {
  return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == 0;
}

// `at` moved past whitespace and comments.
size_t SkipPdfSpace(std::string_view text, size_t at);

// Parses the value at `*at` (after whitespace) and moves `*at` past it; false when the text
// ends first or holds no value there.
bool ParsePdfValue(std::string_view text, size_t* at, PdfValue* value);

struct PdfObjectHeader {
  uint64_t number = 0;
  size_t end = 0;  // just past "obj"
};

// The header "N G obj" at `at` (after whitespace).
std::optional<PdfObjectHeader> ParsePdfObjectHeader(std::string_view text, size_t at);

// Whether an incremental update (or a linearised file's rest) starts in `text`, the bytes after
// an "%%EOF" line: an object "N G obj" or a cross-reference section "xref", after whitespace.
bool PdfUpdateStartsAt(std::string_view text);

// The unsigned decimal number at `*at` (after whitespace), moving `*at` past it; none when there
// is no digit or it does not fit in 63 bits.
std::optional<uint64_t> ParsePdfUnsigned(std::string_view text, size_t* at);

}  // namespace kestrel
