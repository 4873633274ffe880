#include "fs/file_name.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

#include "platform/text_trim.h"
#include "platform/utf16_text.h"

namespace kestrel {
namespace {

constexpr size_t kMaxNameBytes = 240;

// Each character kept as it is, or "_" for one no name may hold.
std::string WithoutControls(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  ForEachUtf8(name, [&out](char32_t code, std::string_view bytes) {
    if (code == kNotUtf8 || code == '/' || IsDisplayControl(code)) {
      out += kNameSubstitute;
    } else {
      out += bytes;
    }
  });
  return out;
}

// Shortened before its extension so that it fits kMaxNameBytes.
std::string FitLength(const std::string& name) {
  if (name.size() <= kMaxNameBytes) return name;
  size_t dot = name.find_last_of('.');
  std::string_view extension;
  if (dot != std::string::npos && dot > 0 && name.size() - dot <= 16) {
    extension = std::string_view(name).substr(dot);
  }
  std::string_view base = std::string_view(name).substr(0, name.size() - extension.size());
  return std::string(CutUtf8(base, kMaxNameBytes - extension.size())) + std::string(extension);
}

}  // namespace

std::string Utf8FileName(std::string_view name_as_read) {
  std::string name = WithoutControls(name_as_read);
  if (name.find_first_not_of(". ") == std::string::npos) {
    // "." and ".." name other folders, "..." and " " hide: each character is shown instead.
    name.assign(std::max<size_t>(name.size(), 1), kNameSubstitute);
  }
  return FitLength(name);
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
