#pragma once
// UTF-16 text (FAT long names, NTFS names) decoded to UTF-8, and UTF-8 cut without splitting a
// character.

#include <cstddef>
#include <limits>
#include <string>
#include <string_view>

namespace kestrel {

inline constexpr size_t kNoByteLimit = std::numeric_limits<size_t>::max();

// UTF-8 of UTF-16 code units: a surrogate pair becomes one character, an unpaired surrogate
// U+FFFD. With `max_bytes` the text ends before the first character that would not fit.
std::string Utf16ToUtf8(std::u16string_view units, size_t max_bytes = kNoByteLimit);

// `text` cut to at most `max_bytes` bytes at a character boundary: a sequence that would be
// split is left out whole.
std::string_view CutUtf8(std::string_view text, size_t max_bytes);

}  // namespace kestrel
