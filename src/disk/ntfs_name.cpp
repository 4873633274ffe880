#include "disk/ntfs_name.h"

#include <cctype>
#include <cstdint>

namespace kestrel {
namespace {

constexpr size_t kMaxNameBytes = 240;
constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(char32_t c, std::string* out) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

bool IsHighSurrogate(char16_t c) {
  return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(char16_t c) {
  return c >= 0xDC00 && c <= 0xDFFF;
}

// Cuts `text` to at most `bytes` bytes without splitting a UTF-8 sequence.
std::string_view CutUtf8(std::string_view text, size_t bytes) {
  if (text.size() <= bytes) return text;
  size_t end = bytes;
  while (end > 0 && (static_cast<uint8_t>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

std::string Trim(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
  return std::string(text.substr(begin, end - begin));
}

}  // namespace

std::string Utf16ToUtf8(std::u16string_view name) {
  std::string out;
  out.reserve(name.size());
  for (size_t i = 0; i < name.size(); ++i) {
    char16_t c = name[i];
    if (IsHighSurrogate(c) && i + 1 < name.size() && IsLowSurrogate(name[i + 1])) {
      AppendUtf8(0x10000 + ((char32_t{c} - 0xD800) << 10) + (char32_t{name[i + 1]} - 0xDC00), &out);
      ++i;
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      AppendUtf8(kReplacement, &out);
    } else {
      AppendUtf8(c, &out);
    }
  }
  return out;
}

std::string NtfsOutputName(std::string_view utf8_name) {
  std::string name(utf8_name);
  for (char& c : name) {
    if (c == '/' || c == '\0') c = '_';
  }
  if (name.empty() || name == "." || name == "..") return {};
  if (name.size() <= kMaxNameBytes) return name;
  size_t dot = name.find_last_of('.');
  std::string_view extension;
  if (dot != std::string::npos && dot > 0 && name.size() - dot <= 16) {
    extension = std::string_view(name).substr(dot);
  }
  std::string_view base = std::string_view(name).substr(0, name.size() - extension.size());
  return std::string(CutUtf8(base, kMaxNameBytes - extension.size())) + std::string(extension);
}

std::string NtfsTypeExtension(std::string_view name) {
  size_t dot = name.find_last_of('.');
  if (dot == std::string_view::npos) return {};
  std::string extension = Trim(name.substr(dot + 1));
  if (extension.size() > 3) extension.resize(3);
  for (char& c : extension) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (extension == "JPE") return "JPG";
  if (extension == "MPE") return "MPG";
  return extension;
}

}  // namespace kestrel
