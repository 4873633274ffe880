#include "cli/terminal_text.h"

#include <cstdint>

#include "platform/utf16_text.h"

namespace kestrel {
namespace {

// `value` in `digits` lower-case hexadecimal digits.
std::string Hex(unsigned value, int digits) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out += kDigits[(value >> shift) & 0xF];
  return out;
}

}  // namespace

std::string TerminalText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  ForEachUtf8(text, [&out](char32_t code, std::string_view bytes) {
    if (code == kNotUtf8) {
      out += "\\x" + Hex(static_cast<uint8_t>(bytes[0]), 2);
    } else if (IsDisplayControl(code)) {
      out += "\\u" + Hex(code, 4);
    } else {
      out += bytes;
    }
  });
  return out;
}

}  // namespace kestrel
