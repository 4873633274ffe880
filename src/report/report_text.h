#pragma once
// The pieces of text a run's report is made of.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrel {

// `text` as XML character data or attribute value: markup characters escaped, bytes that are
// not UTF-8 and characters XML 1.0 cannot carry (control characters) as U+FFFD.
std::string XmlText(std::string_view text);

// "2026-12-09T22:00:00Z" for seconds since 1970-01-01 UTC; nothing for a time that no
// calendar date of years 1 to 9999 holds.
std::optional<std::string> IsoTime(int64_t seconds);

// This process's command line, its arguments separated by blanks.
std::string OwnCommandLine();

}  // namespace kestrel
