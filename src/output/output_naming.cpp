#include "output/output_naming.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/partial_files.h"
#include "run/messages.h"

namespace kestrel {
namespace {

bool ExistsAt(int folder_fd, const std::string& path) {
  struct stat st {};
  return ::fstatat(folder_fd, path.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

// The number made of the five digits before the first '.' that has five digits before it.
uint64_t FiveDigitsBeforeDot(const std::string& name) {
  for (size_t dot = name.find('.'); dot != std::string::npos; dot = name.find('.', dot + 1)) {
    if (dot < 5) continue;
    uint64_t n = 0;
    bool digits = true;
    for (size_t i = dot - 5; i < dot; ++i) {
      if (!std::isdigit(static_cast<unsigned char>(name[i]))) {
        digits = false;
        break;
      }
      n = n * 10 + static_cast<uint64_t>(name[i] - '0');
    }
    if (digits) return n;
  }
  return 0;
}

bool MatchesPattern(const std::string& name, const std::string& prefix,
                    const std::string& extension) {
  const std::string suffix = "." + extension;
  return name.size() >= prefix.size() + suffix.size() &&
         name.compare(0, prefix.size(), prefix) == 0 &&
         name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

std::string CarvedName(const std::string& prefix, uint64_t number, const std::string& extension) {
  char digits[32];
  std::snprintf(digits, sizeof digits, "%05llu", static_cast<unsigned long long>(number));
  return prefix + digits + "." + extension;
}

bool NextFreeNumber(const std::string& folder, const std::string& prefix,
                    const std::string& extension, std::string* name, uint64_t* base) {
  uint64_t next = 1;
  bool found = false;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    std::string file = entry.path().filename().string();
    if (!MatchesPattern(file, prefix, extension)) continue;
    found = true;
    uint64_t n = FiveDigitsBeforeDot(file);
    uint64_t candidate = n >= 1 ? n + 1 : 1;
    if (candidate > next) next = candidate;
  }
  *name = CarvedName(prefix, next, extension);
  if (*base == 0) *base = next;
  return found;
}

namespace {

std::string FillCopyPattern(const std::string& pattern, const std::string& base, uint64_t k,
                            const std::string& ext) {
  std::string out;
  int strings_used = 0;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == 's') {
      out += strings_used++ == 0 ? base : ext;
      ++i;
    } else if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == 'd') {
      out += std::to_string(k);
      ++i;
    } else {
      out += pattern[i];
    }
  }
  return out;
}

}  // namespace

bool NameIsFree(const std::string& path, int folder_fd) {
  return !ExistsAt(folder_fd, path) && !ExistsAt(folder_fd, PartialPathFor(path));
}

std::string MakeUniquePath(const std::string& path, uint64_t* next_copy, int folder_fd) {
  uint64_t first = next_copy != nullptr ? *next_copy : 0;
  if (first == 0 && NameIsFree(path, folder_fd)) {
    if (next_copy != nullptr) *next_copy = 1;
    return path;
  }
  size_t slash = path.find_last_of('/');
  std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  size_t dot = name.find_last_of('.');
  std::string base = dot == std::string::npos ? name : name.substr(0, dot);
  std::string ext = dot == std::string::npos ? "" : name.substr(dot + 1);
  std::string pattern(MessageText(msg::kCopyPattern));  // "%s - Copy(%d).%s"
  for (uint64_t k = std::max<uint64_t>(first, 1);; ++k) {
    // Filled in one pass over the pattern, so a "%d" or "%s" inside the name stays as it is.
    std::string candidate = FillCopyPattern(pattern, base, k, ext);
    if (dot == std::string::npos && !candidate.empty() && candidate.back() == '.') {
      candidate.pop_back();  // a name without extension gets no trailing dot
    }
    if (NameIsFree(folder + candidate, folder_fd)) {
      if (next_copy != nullptr) *next_copy = k + 1;
      return folder + candidate;
    }
  }
}

}  // namespace kestrel
