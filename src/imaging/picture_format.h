#pragma once
// The picture formats the thumbnail view decodes, chosen by a file name's extension.

#include <string_view>

namespace kestrel {

// Format codes of the thumbnail decoder; kNone: not a picture the preview decodes.
enum class PictureFormat : int {
  kNone = -1,
  kBmp = 0,
  kGif = 1,
  kJpg = 2,
  kPng = 3,
  kIco = 4,
  kTif = 5,
  kWmf = 9,
};

// The format of the text after the last "." of `file_name`, compared upper-cased: "BMP", "GIF",
// "JPG", "PNG", "ICO", "TIF", "WMF". Anything else (also "JPEG" and "TIFF") is kNone.
PictureFormat PictureFormatForName(std::string_view file_name);

// The QImageReader format name of a decodable format; nullptr for kNone and kWmf.
const char* ReaderFormatName(PictureFormat format);

}  // namespace kestrel
