#pragma once
// One running window per user session: an exclusive flock on "Kestrel V3.lock" in
// $XDG_RUNTIME_DIR (else /tmp, with the user id in the name so that another user's file cannot
// keep this user out). The lock is released when the process ends, however it ends.

#include <string>

namespace kestrel {

class InstanceLock {
 public:
  // The lock file's path for this session.
  static std::string DefaultPath();

  explicit InstanceLock(std::string path) : path_(std::move(path)) {}
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  enum class Result { kAcquired, kHeldElsewhere, kFailed };
  // Takes the lock without waiting.
  Result Acquire();

 private:
  std::string path_;
  int fd_ = -1;
};

}  // namespace kestrel
