#pragma once
// A file size limit for the test process (RLIMIT_FSIZE) with SIGXFSZ ignored, so that writes past
// it fail with EFBIG instead of ending the process; both are restored by the destructor.

#include <signal.h>
#include <sys/resource.h>

namespace kestrel::testing {

class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &old_limit_);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &old_action_);
    struct rlimit limit = old_limit_;
    limit.rlim_cur = bytes;
    applied_ = setrlimit(RLIMIT_FSIZE, &limit) == 0;
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old_limit_);
    sigaction(SIGXFSZ, &old_action_, nullptr);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  bool applied() const { return applied_; }

 private:
  struct rlimit old_limit_ {};
  struct sigaction old_action_ {};
  bool applied_ = false;
};

}  // namespace kestrel::testing
