#include "cli/json_text.h"

#include <cstdio>

namespace kestrel {

namespace {

// Length of the valid UTF-8 sequence at the start of `text`, 0 when it is not one.
size_t Utf8SequenceLength(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  size_t length = lead < 0x80           ? 1
                  : (lead >> 5) == 0x6  ? 2
                  : (lead >> 4) == 0xE  ? 3
                  : (lead >> 3) == 0x1E ? 4
                                        : 0;
  if (length == 0 || length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) return 0;
  }
  return length;
}

}  // namespace

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (size_t at = 0; at < text.size();) {
    const size_t length = Utf8SequenceLength(text.substr(at));
    if (length == 0) {
      out += "\\ufffd";  // a byte that is not UTF-8 (a raw volume label) cannot stand in JSON
      ++at;
      continue;
    }
    if (length > 1) {
      out.append(text.substr(at, length));
      at += length;
      continue;
    }
    const char c = text[at++];
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

}  // namespace kestrel
