#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

namespace kestrel {
std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

namespace {

bool WriteAll(int fd, std::string_view contents) {
  size_t done = 0;
  while (done < contents.size()) {
    ssize_t n = ::write(fd, contents.data() + done, contents.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// Makes a rename durable: the folder's entry is flushed too.
void SyncFolder(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

int SyncFileSystemOf(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  const int error = ::syncfs(fd) == 0 ? 0 : errno;
  ::close(fd);
  return error;
}

// rename() that fails with EEXIST instead of replacing. Falls back to link + unlink on file
// systems without RENAME_NOREPLACE.
int RenameNoReplace(const std::string& from, const std::string& to) {
  return RenameNoReplaceAt(AT_FDCWD, from, AT_FDCWD, to);
}

int RenameNoReplaceAt(int from_folder, const std::string& from, int to_folder,
                      const std::string& to) {
  if (::renameat2(from_folder, from.c_str(), to_folder, to.c_str(), RENAME_NOREPLACE) == 0) {
    return 0;
  }
  if (errno != EINVAL && errno != ENOSYS) return errno;
  if (::linkat(from_folder, from.c_str(), to_folder, to.c_str(), 0) != 0) return errno;
  ::unlinkat(from_folder, from.c_str(), 0);
  return 0;
}

ReadFileStatus ReadWholeFile(const std::string& path, size_t max_bytes, std::string* contents) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? ReadFileStatus::kMissing : ReadFileStatus::kFailed;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return ReadFileStatus::kFailed;
  }
  if (static_cast<uint64_t>(st.st_size) > max_bytes) {
    ::close(fd);
    return ReadFileStatus::kTooLarge;
  }
  contents->clear();
  std::vector<char> chunk(65536);
  while (true) {
    ssize_t n = ::read(fd, chunk.data(), chunk.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return ReadFileStatus::kFailed;
    }
    if (n == 0) break;
    contents->append(chunk.data(), static_cast<size_t>(n));
    if (contents->size() > max_bytes) {
      ::close(fd);
      return ReadFileStatus::kTooLarge;
    }
  }
  ::close(fd);
  return ReadFileStatus::kOk;
}

int ReplaceFileAtomically(const std::string& path, std::string_view contents) {
  std::string temp = path + ".tmp-XXXXXX";
  int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return errno;
  struct stat existing {};
  mode_t mode = ::stat(path.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : 0644;
  int error = 0;
  if (::fchmod(fd, mode) != 0 || !WriteAll(fd, contents) || ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(temp.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(temp.c_str());
    return error;
  }
  SyncFolder(FolderOf(path));
  return 0;
}

std::string MoveAsideToFreeName(const std::string& path, const std::string& suffix) {
  for (int attempt = 1; attempt < 1000; ++attempt) {
    std::string target = path + suffix;
    if (attempt > 1) target += "-" + std::to_string(attempt);
    int error = RenameNoReplace(path, target);
    if (error == 0) {
      SyncFolder(FolderOf(path));
      return target;
    }
    if (error != EEXIST) return "";
  }
  return "";
}

std::optional<ExclusiveFileLock> ExclusiveFileLock::Acquire(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return std::nullopt;
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      ::close(fd);
      return std::nullopt;
    }
  }
  return ExclusiveFileLock(fd);
}

ExclusiveFileLock::~ExclusiveFileLock() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace kestrel
