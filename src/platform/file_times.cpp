#include "platform/file_times.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <array>

namespace kestrel {
namespace {

timespec TimeOrOmit(std::optional<int64_t> seconds) {
  timespec time{};
  if (seconds) {
    time.tv_sec = static_cast<time_t>(*seconds);
  } else {
    time.tv_nsec = UTIME_OMIT;
  }
  return time;
}

}  // namespace

bool SetFileTimes(const std::string& path, std::optional<int64_t> modified,
                  std::optional<int64_t> accessed) {
  if (!modified && !accessed) return true;
  const std::array<timespec, 2> times{TimeOrOmit(accessed), TimeOrOmit(modified)};
  // The file itself, never what a symbolic link put in its place would point to.
  return ::utimensat(AT_FDCWD, path.c_str(), times.data(), AT_SYMLINK_NOFOLLOW) == 0;
}

}  // namespace kestrel
