#pragma once
// UTF-16 text (FAT long names, NTFS names) decoded to UTF-8, UTF-8 read a character at a time
// and cut without splitting a character, and the characters that change how text is shown.

#include <algorithm>
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

// The character that starts at `text[at]` into `code`, and its length in bytes; 0 when the bytes
// there are no UTF-8 character (a stray continuation byte, a cut, overlong or surrogate form).
size_t DecodeUtf8(std::string_view text, size_t at, char32_t* code);

// Whether `code` steers the display instead of showing a glyph: C0 controls, DEL, C1 controls
// (a terminal reads U+009B as CSI), the line and paragraph separators and the bidirectional
// marks, embeddings, overrides and isolates (U+061C, U+200E, U+200F, U+202A-U+202E,
// U+2066-U+2069), which can make a name read backwards.
bool IsDisplayControl(char32_t code);

// What ForEachUtf8 passes for a byte that is no UTF-8 character.
inline constexpr char32_t kNotUtf8 = 0xFFFFFFFF;

// Calls `visit(code, bytes)` for each character of `text` in order, with its bytes; a byte that
// is no UTF-8 is visited alone, as kNotUtf8.
template <typename Visit>
void ForEachUtf8(std::string_view text, Visit visit) {
  for (size_t at = 0; at < text.size();) {
    char32_t code = kNotUtf8;
    const size_t length = std::max<size_t>(DecodeUtf8(text, at, &code), 1);
    visit(code, text.substr(at, length));
    at += length;
  }
}

}  // namespace kestrel
