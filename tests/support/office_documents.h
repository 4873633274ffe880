#pragma once
// Documents LibreOffice writes (DOC, XLS, PPT) for the compound document tests: lines of text
// (DOC), a table of numbers and words (XLS), slides (PPT).

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel::testing {

struct DocumentPair {
  std::vector<uint8_t> first, second;
};

// Two documents of a kind ("doc", "xls" or "ppt"), the second larger with other contents,
// converted by LibreOffice once per test program; empty when LibreOffice is missing or fails.
const DocumentPair& LibreOfficeDocuments(const std::string& kind);

// The shell command that writes f$n.fodp, a flat ODF presentation of `slides` (a shell number)
// slides, each a line "Slide k of Kestrel presentation $n.".
std::string SlidesSource(const std::string& slides);

}  // namespace kestrel::testing
