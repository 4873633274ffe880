#include "platform/utf16_text.h"

#include <algorithm>
#include <cstdint>

namespace kestrel {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char16_t c) {
  return c >= 0xD800 && c <= 0xDBFF;
}

bool IsLowSurrogate(char16_t c) {
  return c >= 0xDC00 && c <= 0xDFFF;
}

// The UTF-8 bytes of one code point into `out`; their count.
size_t EncodeUtf8(char32_t c, char out[4]) {
  if (c < 0x80) {
    out[0] = static_cast<char>(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = static_cast<char>(0xC0 | (c >> 6));
    out[1] = static_cast<char>(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (c >> 12));
    out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (c & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (c >> 18));
  out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (c & 0x3F));
  return 4;
}

}  // namespace

std::string Utf16ToUtf8(std::u16string_view units, size_t max_bytes) {
  std::string out;
  out.reserve(std::min(units.size(), max_bytes));
  for (size_t i = 0; i < units.size(); ++i) {
    const char16_t c = units[i];
    char32_t code = c;
    if (IsHighSurrogate(c) && i + 1 < units.size() && IsLowSurrogate(units[i + 1])) {
      code = 0x10000 + ((char32_t{c} - 0xD800) << 10) + (char32_t{units[i + 1]} - 0xDC00);
      ++i;
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      code = kReplacement;
    }
    char bytes[4];
    const size_t length = EncodeUtf8(code, bytes);
    if (length > max_bytes - out.size()) break;
    out.append(bytes, length);
  }
  return out;
}

std::string_view CutUtf8(std::string_view text, size_t max_bytes) {
  if (text.size() <= max_bytes) return text;
  size_t end = max_bytes;
  while (end > 0 && (static_cast<uint8_t>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

}  // namespace kestrel
