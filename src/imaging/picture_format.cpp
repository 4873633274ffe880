#include "imaging/picture_format.h"

#include <array>
#include <cctype>
#include <string>
#include <utility>

namespace kestrel {

PictureFormat PictureFormatForName(std::string_view file_name) {
  const size_t dot = file_name.rfind('.');
  if (dot == std::string_view::npos) return PictureFormat::kNone;
  std::string extension(file_name.substr(dot + 1));
  for (char& c : extension) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  static constexpr std::array<std::pair<std::string_view, PictureFormat>, 7> kByExtension = {{
      {"BMP", PictureFormat::kBmp},
      {"GIF", PictureFormat::kGif},
      {"JPG", PictureFormat::kJpg},
      {"PNG", PictureFormat::kPng},
      {"ICO", PictureFormat::kIco},
      {"TIF", PictureFormat::kTif},
      {"WMF", PictureFormat::kWmf},
  }};
  for (const auto& [name, format] : kByExtension) {
    if (extension == name) return format;
  }
  return PictureFormat::kNone;
}

const char* ReaderFormatName(PictureFormat format) {
  switch (format) {
    case PictureFormat::kBmp:
      return "bmp";
    case PictureFormat::kGif:
      return "gif";
    case PictureFormat::kJpg:
      return "jpeg";
    case PictureFormat::kPng:
      return "png";
    case PictureFormat::kIco:
      return "ico";
    case PictureFormat::kTif:
      return "tiff";
    case PictureFormat::kWmf:  // no reader: the placeholder is shown
    case PictureFormat::kNone:
      break;
  }
  return nullptr;
}

}  // namespace kestrel
