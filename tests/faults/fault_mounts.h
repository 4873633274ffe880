#pragma once
// The real kernel paths behind the fault tests: an image served through FUSE whose chosen
// sectors fail with EIO, a small tmpfs as a full disk, and kestrel-cli run as a separate
// process that can be killed. Each fixture reports why it cannot be had here, so the tests skip
// with that reason.

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/cli_runner.h"

namespace kestrel::testing {

struct BadSectors {
  uint64_t first = 0;
  uint64_t count = 1;
  int failing_reads = 0;  // 0: every read fails; n: the first n reads fail, later ones succeed
};

// Serves `backing` as `mount_dir`/image through the eio_image_fs FUSE server.
class EioImageMount {
 public:
  static std::unique_ptr<EioImageMount> Start(const std::string& backing,
                                              const std::string& mount_dir,
                                              const std::vector<BadSectors>& bad, std::string* why);
  ~EioImageMount();
  EioImageMount(const EioImageMount&) = delete;
  EioImageMount& operator=(const EioImageMount&) = delete;
  std::string image_path() const { return mount_dir_ + "/image"; }

 private:
  EioImageMount(std::string mount_dir, pid_t server)
      : mount_dir_(std::move(mount_dir)), server_(server) {}
  std::string mount_dir_;
  pid_t server_;
};

// A memory file system ("tmpfs" with "size=1m", "ramfs") mounted at `mount_dir`, unmounted by
// the destructor.
class MemoryMount {
 public:
  static std::unique_ptr<MemoryMount> Start(const std::string& mount_dir, const std::string& type,
                                            const std::string& options, std::string* why);
  ~MemoryMount();
  MemoryMount(const MemoryMount&) = delete;
  MemoryMount& operator=(const MemoryMount&) = delete;

 private:
  explicit MemoryMount(std::string mount_dir) : mount_dir_(std::move(mount_dir)) {}
  std::string mount_dir_;
};

// kestrel-cli started in the background with the environment RunCli gives it, output discarded.
class CliProcess {
 public:
  CliProcess(const TempDir& dir, const std::vector<std::string>& arguments);
  ~CliProcess();
  // Sends SIGKILL (when still running) and waits; returns the wait status.
  int KillAndWait();
  int Wait();

 private:
  pid_t pid_ = -1;
  int status_ = 0;
};

// The regular files of `folder` whose names end with ".part".
std::vector<std::string> PartialFiles(const std::string& folder);

}  // namespace kestrel::testing
