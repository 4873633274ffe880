#include "output/run_folder_rollback.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <optional>
#include <string_view>

#include "output/output_naming.h"

namespace kestrel {
namespace {

struct CarvedFile {
  uint64_t number = 0;
  std::string extension;
};

// "KES" + at least five digits + "." + an extension without dots.
std::optional<CarvedFile> ParseCarvedName(std::string_view name) {
  const std::string_view prefix = kCarvedPrefix;
  if (name.substr(0, prefix.size()) != prefix) return std::nullopt;
  size_t at = prefix.size();
  CarvedFile file;
  while (at < name.size() && std::isdigit(static_cast<unsigned char>(name[at]))) {
    if (file.number > UINT64_MAX / 10 - 9) return std::nullopt;
    file.number = file.number * 10 + static_cast<uint64_t>(name[at] - '0');
    ++at;
  }
  if (at - prefix.size() < 5 || at >= name.size() || name[at] != '.') return std::nullopt;
  file.extension = std::string(name.substr(at + 1));
  if (file.extension.empty() || file.extension.find('.') != std::string::npos) return std::nullopt;
  return file;
}

// Calls `visit(name)` for every entry of `folder` (opened without following a link).
template <typename Visit>
int ForEachEntry(const std::string& folder, Visit visit) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? 0 : errno;
  DIR* dir = ::fdopendir(fd);
  if (dir == nullptr) {
    const int error = errno;
    ::close(fd);
    return error;
  }
  int result = 0;
  while (const dirent* entry = ::readdir(dir)) {
    if (const int error = visit(::dirfd(dir), std::string_view(entry->d_name)); error != 0) {
      result = result != 0 ? result : error;
    }
  }
  ::closedir(dir);
  return result;
}

}  // namespace

std::map<std::string, uint64_t> CarvedNextNumbers(const std::string& folder) {
  std::map<std::string, uint64_t> next;
  ForEachEntry(folder, [&](int, std::string_view name) {
    if (const std::optional<CarvedFile> file = ParseCarvedName(name)) {
      uint64_t& n = next[file->extension];
      if (file->number + 1 > n) n = file->number + 1;
    }
    return 0;
  });
  return next;
}

int RemoveCarvedFilesFrom(const std::string& folder, const std::map<std::string, uint64_t>& next) {
  return ForEachEntry(folder, [&](int dir_fd, std::string_view name) {
    const std::optional<CarvedFile> file = ParseCarvedName(name);
    if (!file) return 0;
    const auto found = next.find(file->extension);
    if (found != next.end() && file->number < found->second) return 0;
    return ::unlinkat(dir_fd, std::string(name).c_str(), 0) == 0 || errno == ENOENT ? 0 : errno;
  });
}

void RemoveLeftTemporaries(const std::string& folder, const std::string& prefix) {
  ForEachEntry(folder, [&](int dir_fd, std::string_view entry) {
    if (entry.size() != prefix.size() + 6 || entry.substr(0, prefix.size()) != prefix) return 0;
    ::unlinkat(dir_fd, std::string(entry).c_str(), 0);
    return 0;
  });
}

}  // namespace kestrel
