#pragma once
// File names read as UTF-8 (NTFS and exFAT names) as the recovery writes them: one path
// component, and the type they test as.

#include <string>
#include <string_view>

namespace kestrel {

// The name a recovered file is written under: "/" and NUL become "_", a name longer than 240
// bytes is shortened before its extension (at a character boundary) so that it and a
// " - Copy(k)" suffix still fit a file name. Empty for an empty name, "." and "..".
std::string Utf8FileName(std::string_view utf8_name);

// The extension the type filter tests: the text after the last '.', trimmed, cut to three
// characters and upper-cased, with "JPE" read as "JPG" and "MPE" as "MPG". Empty without a '.'.
std::string TypeExtensionOf(std::string_view name);

}  // namespace kestrel
