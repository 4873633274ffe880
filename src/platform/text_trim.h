#pragma once
// Trimming text read from files, names and settings.

#include <string_view>

namespace kestrel {

// What std::isspace counts as white space in the C locale.
inline constexpr std::string_view kWhiteSpace = " \t\n\v\f\r";

// `text` without the leading and trailing characters that are in `blanks`.
inline std::string_view Trim(std::string_view text, std::string_view blanks = " \t\r\n") {
  const size_t first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

}  // namespace kestrel
