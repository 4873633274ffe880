#include "app/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace kestrel {

std::string InstanceLock::DefaultPath() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/') return std::string(runtime) + "/Kestrel V3.lock";
  return "/tmp/Kestrel V3-" + std::to_string(getuid()) + ".lock";
}

InstanceLock::~InstanceLock() {
  if (fd_ >= 0) close(fd_);
}

InstanceLock::Result InstanceLock::Acquire() {
  if (fd_ >= 0) return Result::kAcquired;
  const int fd = open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return Result::kFailed;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const bool busy = errno == EWOULDBLOCK;
    close(fd);
    return busy ? Result::kHeldElsewhere : Result::kFailed;
  }
  fd_ = fd;
  return Result::kAcquired;
}

}  // namespace kestrel
