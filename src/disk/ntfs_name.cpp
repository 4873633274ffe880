#include "disk/ntfs_name.h"

#include <cctype>
#include <cstdint>

#include "platform/utf16_text.h"

namespace kestrel {
namespace {

constexpr size_t kMaxNameBytes = 240;

std::string Trim(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
  return std::string(text.substr(begin, end - begin));
}

}  // namespace

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
