#pragma once
// Readable names for parameterised test cases: the case's text with every character that a test
// name cannot hold turned into '_' ("excel.xls" -> "excel_xls"), or the FAT type ("Fat16").

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <string_view>

namespace kestrel::testing {

inline std::string ReadableTestName(std::string_view text) {
  std::string name;
  for (char c : text) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name.empty() ? std::string("_") : name;
}

// "Fat12", "Fat16", "Fat32" for cases over the FAT type.
inline std::string FatTypeName(const ::testing::TestParamInfo<int>& info) {
  return "Fat" + std::to_string(info.param);
}

}  // namespace kestrel::testing
