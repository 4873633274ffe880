#include "fs/file_name.h"

#include <cctype>
#include <cstdint>

#include "platform/text_trim.h"
#include "platform/utf16_text.h"

namespace kestrel {
namespace {

constexpr size_t kMaxNameBytes = 240;

}  // namespace

std::string Utf8FileName(std::string_view utf8_name) {
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

std::string TypeExtensionOf(std::string_view name) {
  size_t dot = name.find_last_of('.');
  if (dot == std::string_view::npos) return {};
  std::string extension(Trim(name.substr(dot + 1), kWhiteSpace));
  if (extension.size() > 3) extension.resize(3);
  for (char& c : extension) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (extension == "JPE") return "JPG";
  if (extension == "MPE") return "MPG";
  return extension;
}

}  // namespace kestrel
