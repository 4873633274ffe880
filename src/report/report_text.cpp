#include "report/report_text.h"

#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>

namespace kestrel {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// The length of the UTF-8 sequence at `at` that XML may carry, or 0.
size_t ValidSequence(std::string_view text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) {
    return lead >= 0x20 || lead == '\t' || lead == '\n' || lead == '\r' ? 1 : 0;
  }
  size_t length = 0;
  uint32_t code = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
    code = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    code = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    code = lead & 0x07;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(at + i) & 0x3F);
  }
  static constexpr uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < kLeast[length] || code > 0x10FFFF) return 0;
  if ((code >= 0xD800 && code <= 0xDFFF) || code == 0xFFFE || code == 0xFFFF) return 0;
  if (code >= 0x7F && code <= 0x9F) return 0;  // C1 controls
  return length;
}

}  // namespace

std::string XmlText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    const size_t length = ValidSequence(text, at);
    if (length == 0) {
      out += kReplacement;
      ++at;
      continue;
    }
    switch (text[at]) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out.append(text.substr(at, length));
    }
    at += length;
  }
  return out;
}

std::optional<std::string> IsoTime(int64_t seconds) {
  // Years 1 to 9999 (xs:dateTime needs four digits here).
  constexpr int64_t kFirst = -62135596800;
  constexpr int64_t kLast = 253402300799;
  if (seconds < kFirst || seconds > kLast) return std::nullopt;
  const auto value = static_cast<std::time_t>(seconds);
  std::tm parts{};
  if (::gmtime_r(&value, &parts) == nullptr) return std::nullopt;
  char text[80];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", parts.tm_year + 1900,
                parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
  return std::string(text);
}

std::string OwnCommandLine() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string line((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  while (!line.empty() && line.back() == '\0') line.pop_back();
  for (char& c : line) {
    if (c == '\0') c = ' ';
  }
  return line;
}

}  // namespace kestrel
