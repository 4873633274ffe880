#pragma once
// Readable names for parameterised test cases: the case's text with every character that a test
// name cannot hold turned into '_' ("excel.xls" -> "excel_xls").

#include <cctype>
#include <string>
#include <string_view>

namespace kestrel::testing {

inline std::string ReadableTestName(std::string_view text) {
  std::string name;
  for (char c : text) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name.empty() ? std::string("_") : name;
}

}  // namespace kestrel::testing
