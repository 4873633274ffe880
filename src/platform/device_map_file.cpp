#include "platform/device_map_file.h"
#include "platform/text_trim.h"

#include <cstdlib>
#include <filesystem>

#include "platform/atomic_file.h"
#include "platform/settings_store.h"

namespace kestrel {
namespace {

constexpr size_t kMaxMapFileBytes = 1024 * 1024;
constexpr std::string_view kRemovable = "removable";

// Lines of this file are trimmed of blanks and a CR, not of other line ends.
std::string_view TrimLine(std::string_view text) {
  return Trim(text, " \t\r");
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

char UpperLetter(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Splits "PATH [removable]" (PATH possibly quoted). False when the text has no path or stray
// text after a quoted path.
bool ParsePathAndFlag(std::string_view text, std::string* path, bool* removable, std::string* why) {
  *removable = false;
  std::string_view rest;
  if (!text.empty() && text.front() == '"') {
    size_t close = text.find('"', 1);
    if (close == std::string_view::npos) {
      *why = "the path has no closing quote";
      return false;
    }
    *path = std::string(text.substr(1, close - 1));
    rest = TrimLine(text.substr(close + 1));
    if (rest == kRemovable) {
      *removable = true;
    } else if (!rest.empty()) {
      *why = "unexpected text after the path: \"" + std::string(rest) + "\"";
      return false;
    }
  } else {
    if (text.size() > kRemovable.size() && text.ends_with(kRemovable) &&
        IsBlank(text[text.size() - kRemovable.size() - 1])) {
      *removable = true;
      text = TrimLine(text.substr(0, text.size() - kRemovable.size()));
    }
    *path = std::string(text);
  }
  if (path->empty()) {
    *why = "no path given";
    return false;
  }
  return true;
}

// Parses one non-blank, non-comment line. False (with `why`) when it is malformed.
bool ParseEntry(std::string_view line, DeviceMapEntry* entry, std::string* why) {
  size_t blank = line.find_first_of(" \t");
  std::string_view word = line.substr(0, blank);
  std::string_view rest =
      blank == std::string_view::npos ? std::string_view{} : TrimLine(line.substr(blank));
  char letter = word.size() == 2 && word[1] == ':' ? UpperLetter(word[0]) : 0;
  if (letter >= 'A' && letter <= 'Z') {
    entry->kind = DeviceMapEntry::Kind::kVolume;
    entry->letter = letter;
  } else if (word == "disk") {
    entry->kind = DeviceMapEntry::Kind::kDisk;
  } else {
    *why = "expected \"X: PATH\" or \"disk PATH\", found \"" + std::string(word) + "\"";
    return false;
  }
  return ParsePathAndFlag(rest, &entry->path, &entry->removable, why);
}

std::string Resolve(const std::string& path, const std::string& map_path) {
  std::filesystem::path p(path);
  if (p.is_absolute()) return path;
  return (std::filesystem::path(map_path).parent_path() / p).lexically_normal().string();
}

}  // namespace

DeviceMapFile ParseDeviceMap(std::string_view text, const std::string& map_path) {
  DeviceMapFile result;
  std::string taken_on_line[26] = {};
  int line_number = 0;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = TrimLine(text.substr(pos, end - pos));
    pos = end + 1;
    ++line_number;
    if (line.empty() || line.front() == '#') continue;
    DeviceMapEntry entry;
    entry.line = line_number;
    std::string why;
    if (ParseEntry(line, &entry, &why)) {
      if (entry.kind == DeviceMapEntry::Kind::kVolume) {
        std::string& first = taken_on_line[entry.letter - 'A'];
        if (!first.empty()) {
          why = std::string("letter ") + entry.letter + ": is already given on line " + first;
        } else {
          first = std::to_string(line_number);
        }
      }
    }
    if (!why.empty()) {
      result.warnings.push_back(map_path + ":" + std::to_string(line_number) + ": " + why +
                                "; line skipped");
      continue;
    }
    entry.path = Resolve(entry.path, map_path);
    result.entries.push_back(std::move(entry));
  }
  return result;
}

DeviceMapFile ReadDeviceMap(const std::string& map_path, bool warn_if_missing) {
  std::string text;
  switch (ReadWholeFile(map_path, kMaxMapFileBytes, &text)) {
    case ReadFileStatus::kOk:
      return ParseDeviceMap(text, map_path);
    case ReadFileStatus::kMissing:
      if (!warn_if_missing) return {};
      return {{}, {map_path + ": the device map file does not exist; no images attached"}};
    case ReadFileStatus::kTooLarge:
      return {{}, {map_path + ": the device map file is too large to be one; no images attached"}};
    case ReadFileStatus::kFailed:
      break;
  }
  return {{}, {map_path + ": the device map file cannot be read; no images attached"}};
}

std::string DefaultDeviceMapPath(bool* is_explicit) {
  const char* named = std::getenv("KESTREL_DEVICES");
  *is_explicit = named != nullptr && *named != '\0';
  if (*is_explicit) return named;
  return (std::filesystem::path(SettingsStore::DefaultPath()).parent_path() / "devices.conf")
      .string();
}

}  // namespace kestrel
