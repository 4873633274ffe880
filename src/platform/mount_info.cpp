#include "platform/mount_info.h"

#include <sys/sysmacros.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "platform/atomic_file.h"

namespace kestrel {
namespace {

constexpr size_t kMaxMountInfoBytes = 16 * 1024 * 1024;

// The kernel writes space, tab, newline and backslash in paths as \040, \011, \012, \134.
std::string DecodeOctalEscapes(std::string_view text) {
  auto octal = [](char c) { return c >= '0' && c <= '7'; };
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() && octal(text[i + 1]) && octal(text[i + 2]) &&
        octal(text[i + 3])) {
      out += static_cast<char>((text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 +
                               (text[i + 3] - '0'));
      i += 3;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::optional<MountEntry> ParseLine(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> fields;
  for (std::string field; in >> field;) fields.push_back(field);
  // id parent major:minor root mount-point options [optional fields...] - type source options
  size_t separator = 6;
  while (separator < fields.size() && fields[separator] != "-") ++separator;
  if (fields.size() < 6 || separator + 2 >= fields.size()) return std::nullopt;
  unsigned major_number = 0, minor_number = 0;
  if (std::sscanf(fields[2].c_str(), "%u:%u", &major_number, &minor_number) != 2)
    return std::nullopt;
  MountEntry entry;
  entry.device = makedev(major_number, minor_number);
  entry.mount_point = DecodeOctalEscapes(fields[4]);
  entry.fs_type = fields[separator + 1];
  entry.source = DecodeOctalEscapes(fields[separator + 2]);
  return entry;
}

bool IsPathPrefix(const std::string& prefix, const std::string& path) {
  if (prefix == "/") return true;
  return path.starts_with(prefix) && (path.size() == prefix.size() || path[prefix.size()] == '/');
}

}  // namespace

std::vector<MountEntry> ParseMountInfo(std::string_view text) {
  std::vector<MountEntry> mounts;
  std::istringstream in{std::string(text)};
  for (std::string line; std::getline(in, line);) {
    if (std::optional<MountEntry> entry = ParseLine(line)) mounts.push_back(std::move(*entry));
  }
  return mounts;
}

std::string MountInfoPath() {
  const char* named = std::getenv("KESTREL_MOUNTINFO");
  return named && *named ? named : "/proc/self/mountinfo";
}

std::vector<MountEntry> ReadMountInfo() {
  std::string text;
  if (ReadWholeFile(MountInfoPath(), kMaxMountInfoBytes, &text) != ReadFileStatus::kOk) return {};
  return ParseMountInfo(text);
}

std::optional<MountEntry> FindMountHolding(const std::vector<MountEntry>& mounts,
                                           const std::string& path) {
  const MountEntry* best = nullptr;
  for (const MountEntry& mount : mounts) {
    if (!IsPathPrefix(mount.mount_point, path)) continue;
    if (best == nullptr || mount.mount_point.size() >= best->mount_point.size()) best = &mount;
  }
  if (best == nullptr) return std::nullopt;
  return *best;
}

}  // namespace kestrel
