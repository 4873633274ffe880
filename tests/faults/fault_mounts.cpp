#include "faults/fault_mounts.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

namespace kestrel::testing {
namespace {

// How long a FUSE server may take to appear: generous, it only bounds a broken setup.
constexpr int kMountPolls = 400;
constexpr auto kPollPause = std::chrono::milliseconds(25);

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool IsMountPoint(const std::string& dir) {
  struct stat inside {
  }, parent{};
  return ::stat(dir.c_str(), &inside) == 0 && ::stat((dir + "/..").c_str(), &parent) == 0 &&
         inside.st_dev != parent.st_dev;
}

// Redirects the standard descriptors of a child process.
void RedirectStandardFiles(const std::string& output) {
  const int in = ::open("/dev/null", O_RDONLY);
  const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in >= 0) ::dup2(in, 0);
  if (out >= 0) {
    ::dup2(out, 1);
    ::dup2(out, 2);
  }
}

[[noreturn]] void Exec(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  ::execv(args[0], args.data());
  ::_exit(127);
}

std::string FuseUnavailableReason() {
#ifndef KESTREL_EIO_FS_PATH
  return "the FUSE server was not built (libfuse3-dev missing)";
#else
  if (::access("/dev/fuse", R_OK | W_OK) != 0) {
    return std::string("/dev/fuse cannot be opened: ") + std::strerror(errno);
  }
  if (::geteuid() != 0 && !HaveTool("fusermount3")) return "not root and no fusermount3";
  return {};
#endif
}

void Unmount(const std::string& dir) {
  if (::geteuid() == 0) {
    if (::umount2(dir.c_str(), 0) != 0) ::umount2(dir.c_str(), MNT_DETACH);
  } else {
    RunCommand("fusermount3 -u -z '" + dir + "'");
  }
}

}  // namespace

std::unique_ptr<EioImageMount> EioImageMount::Start(const std::string& backing,
                                                    const std::string& mount_dir,
                                                    const std::vector<BadSectors>& bad,
                                                    std::string* why) {
  *why = FuseUnavailableReason();
  if (!why->empty()) return nullptr;
#ifdef KESTREL_EIO_FS_PATH
  std::filesystem::create_directories(mount_dir);
  std::vector<std::string> argv{KESTREL_EIO_FS_PATH, backing, mount_dir};
  for (const BadSectors& range : bad) {
    argv.push_back("--bad");
    argv.push_back(std::to_string(range.first) + ":" + std::to_string(range.count) + ":" +
                   std::to_string(range.failing_reads));
  }
  const std::string log = mount_dir + ".log";
  const pid_t server = ::fork();
  if (server == 0) {
    RedirectStandardFiles(log);
    Exec(argv);
  }
  std::unique_ptr<EioImageMount> mount(new EioImageMount(mount_dir, server));
  for (int poll = 0; poll < kMountPolls; ++poll) {
    if (IsMountPoint(mount_dir)) return mount;
    int status = 0;
    if (::waitpid(server, &status, WNOHANG) == server) {
      mount->server_ = -1;
      *why = "the FUSE server ended: " + ReadText(log);
      return nullptr;
    }
    std::this_thread::sleep_for(kPollPause);
  }
  *why = "the FUSE server did not mount: " + ReadText(log);
  return nullptr;
#endif
}

EioImageMount::~EioImageMount() {
  if (IsMountPoint(mount_dir_)) Unmount(mount_dir_);
  if (server_ > 0) {
    int status = 0;
    for (int poll = 0; poll < kMountPolls; ++poll) {
      if (::waitpid(server_, &status, WNOHANG) == server_) return;
      std::this_thread::sleep_for(kPollPause);
    }
    ::kill(server_, SIGKILL);
    ::waitpid(server_, &status, 0);
  }
}

std::unique_ptr<MemoryMount> MemoryMount::Start(const std::string& mount_dir,
                                                const std::string& type, const std::string& options,
                                                std::string* why) {
  std::filesystem::create_directories(mount_dir);
  if (::mount(type.c_str(), mount_dir.c_str(), type.c_str(), 0, options.c_str()) != 0) {
    *why = "cannot mount a " + type + " (needs root): " + std::strerror(errno);
    return nullptr;
  }
  return std::unique_ptr<MemoryMount>(new MemoryMount(mount_dir));
}

MemoryMount::~MemoryMount() {
  ::umount2(mount_dir_.c_str(), MNT_DETACH);
}

CliProcess::CliProcess(const TempDir& dir, const std::vector<std::string>& arguments) {
  pid_ = ::fork();
  if (pid_ != 0) return;
  ::setenv("KESTREL_NO_DEVICES", "1", 1);
  ::setenv("KESTREL_DEVICES", (dir / "devices.conf").c_str(), 1);
  ::setenv("KESTREL_REGISTRY", (dir / "registry.reg").c_str(), 1);
  RedirectStandardFiles("/dev/null");
  std::vector<std::string> argv{KESTREL_CLI_PATH};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  Exec(argv);
}

CliProcess::~CliProcess() {
  if (pid_ > 0) KillAndWait();
}

int CliProcess::KillAndWait() {
  if (pid_ > 0) ::kill(pid_, SIGKILL);
  return Wait();
}

int CliProcess::Wait() {
  if (pid_ > 0) {
    ::waitpid(pid_, &status_, 0);
    pid_ = -1;
  }
  return status_;
}

std::vector<std::string> PartialFiles(const std::string& folder) {
  std::vector<std::string> partial;
  for (const std::string& name : ListFiles(folder)) {
    if (name.size() > 5 && name.compare(name.size() - 5, 5, ".part") == 0) partial.push_back(name);
  }
  return partial;
}

}  // namespace kestrel::testing
