#include "cli/source_argument.h"

#include <filesystem>
#include <system_error>

namespace kestrel {
namespace {

char UpperLetter(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// "E", "E:", "e:", "E:/" or "E:\" name the volume of letter E; 0 when the text is not one.
char VolumeLetterOf(const std::string& text) {
  if (text.empty() || text.size() > 3) return 0;
  char letter = UpperLetter(text[0]);
  if (letter < 'A' || letter > 'Z') return 0;
  if (text.size() >= 2 && text[1] != ':') return 0;
  if (text.size() == 3 && text[2] != '/' && text[2] != '\\') return 0;
  return letter;
}

// "disk0", "disk12": the disk ordinal; -1 when the text is not one.
int DiskOrdinalOf(const std::string& text) {
  constexpr size_t kPrefix = 4;
  if (text.size() <= kPrefix || text.size() > kPrefix + 4 ||
      text.compare(0, kPrefix, "disk") != 0) {
    return -1;
  }
  int ordinal = 0;
  for (size_t i = kPrefix; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    ordinal = ordinal * 10 + (text[i] - '0');
  }
  return ordinal;
}

SourceArgument Invalid(std::string why) {
  SourceArgument result;
  result.error = std::move(why);
  return result;
}

// A note for a name that is also a file in the current folder.
std::string FileHint(const std::string& text) {
  std::error_code ec;
  if (!std::filesystem::exists(text, ec)) return "";
  return "; write ./" + text + " for the file of that name";
}

}  // namespace

SourceArgument ResolveSourceArgument(const std::string& text, const DeviceMap& map) {
  SourceArgument result;
  if (char letter = VolumeLetterOf(text)) {
    result.volume = map.FindVolume(letter);
    if (!result.volume) {
      return Invalid(std::string("there is no volume ") + letter +
                     ": (\"kestrel-cli sources\" lists the volumes)" + FileHint(text));
    }
    result.kind = SourceArgument::Kind::kVolume;
    return result;
  }
  if (int ordinal = DiskOrdinalOf(text); ordinal >= 0) {
    result.disk = map.FindDisk(ordinal);
    if (!result.disk) {
      return Invalid("there is no disk " + std::to_string(ordinal) +
                     " (\"kestrel-cli sources\" lists the disks)" + FileHint(text));
    }
    result.kind = SourceArgument::Kind::kDisk;
    return result;
  }
  std::error_code ec;
  std::filesystem::file_status status = std::filesystem::status(text, ec);
  if (ec || !std::filesystem::exists(status)) {
    return Invalid("\"" + text +
                   "\" is no volume letter (E:), no disk (disk0) and no existing file");
  }
  if (std::filesystem::is_directory(status)) {
    return Invalid("\"" + text + "\" is a folder; give a device or an image file");
  }
  if (!std::filesystem::is_regular_file(status) && !std::filesystem::is_block_file(status)) {
    return Invalid("\"" + text +
                   "\" is no disk, partition or image file (a pipe, socket or character device "
                   "cannot be read as one)");
  }
  result.kind = SourceArgument::Kind::kPath;
  result.path = text;
  return result;
}

}  // namespace kestrel
