#pragma once
// A PDF's classic cross-reference tables, as the searches for a fragmented PDF's pieces read
// them: the objects a table places, and the /Prev of its trailer.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/byte_source.h"

namespace kestrel {

// An object, or a cross-reference table (with where it really lies), at its file offset.
struct PdfObjectPlace {
  uint64_t offset = 0, number = 0;
  bool table = false;
  uint64_t table_at = 0;  // the table's source offset
};

// The `n` bytes at `at` of `source` as text; none when they cannot be read.
std::optional<std::string> ReadPdfText(ByteSource& source, uint64_t at, uint64_t n);

// Whether `at` of `text` starts a line.
bool AtPdfLineStart(std::string_view text, size_t at);

// The table's entries in use after "xref" at `at` of `text` (objects placed at their offsets,
// at most 500,000 in all); where its trailer starts, none when the table is broken.
std::optional<size_t> ParsePdfXrefTable(std::string_view text, size_t at,
                                        std::vector<PdfObjectPlace>* objects);

// The trailer dictionary at `at` of `text` (after "trailer"): its /Prev, 0 when it has none.
// None for a trailer that does not parse or names a cross-reference stream.
std::optional<uint64_t> PdfTrailerPrev(std::string_view text, size_t at);

}  // namespace kestrel
