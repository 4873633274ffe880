#include "platform/partial_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>

#include "platform/atomic_file.h"

namespace kestrel {
namespace {

constexpr const char* kMarkerName = "user.kestrel.partial";
constexpr const char* kPartialSuffix = ".part";
constexpr size_t kSuffixLength = 5;

// NAME of a ".NAME.part" entry, or empty when the entry is not named like a partial file.
std::string FinalNameOf(const std::string& entry) {
  if (entry.size() <= 1 + kSuffixLength || entry[0] != '.') return {};
  if (entry.compare(entry.size() - kSuffixLength, kSuffixLength, kPartialSuffix) != 0) return {};
  return entry.substr(1, entry.size() - 1 - kSuffixLength);
}

bool Unsupported(int error) {
  return error == ENOTSUP || error == EOPNOTSUPP;
}

int SetErrno(int error) {
  errno = error;
  return -1;
}

// The writer's lock (dropped by the kernel when the process ends) and, where the file system
// takes extended attributes, the marker. Without the marker a leftover is only left behind,
// never mistaken for another program's file.
void MarkPartial(int fd, const std::string& final_name) {
  ::flock(fd, LOCK_EX | LOCK_NB);
  ::fsetxattr(fd, kMarkerName, final_name.data(), final_name.size(), 0);
}

// Whether the unlocked partial file at `fd` was written by this program as `final_name`.
bool CarriesMarker(int fd, const std::string& final_name) {
  char value[256];
  const ssize_t n = ::fgetxattr(fd, kMarkerName, value, sizeof value);
  if (n < 0) return Unsupported(errno);
  return std::string(value, static_cast<size_t>(n)) == final_name;
}

bool IsStalePartial(int folder_fd, const std::string& entry) {
  const std::string final_name = FinalNameOf(entry);
  if (final_name.empty()) return false;
  const int fd = ::openat(folder_fd, entry.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  // A live run holds its partial file locked; the lock is only tested, the close drops it.
  const bool stale = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                     ::flock(fd, LOCK_EX | LOCK_NB) == 0 && CarriesMarker(fd, final_name);
  ::close(fd);
  return stale;
}

}  // namespace

std::string PartialPathFor(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const size_t name_at = slash == std::string::npos ? 0 : slash + 1;
  return path.substr(0, name_at) + "." + path.substr(name_at) + kPartialSuffix;
}

int CreatePartialFile(int folder_fd, const std::string& partial_name, const std::string& final_name,
                      bool readable) {
  const int access = readable ? O_RDWR : O_WRONLY;
  // An unnamed file in the folder is locked and marked first, then given the partial name.
  const std::string folder = folder_fd == AT_FDCWD ? FolderOf(partial_name) : ".";
  int fd = ::openat(folder_fd, folder.c_str(), O_TMPFILE | access | O_CLOEXEC, 0644);
  if (fd >= 0) {
    MarkPartial(fd, final_name);
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, self.c_str(), folder_fd, partial_name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      return fd;
    }
    const int error = errno;
    ::close(fd);
    if (error != ENOENT && error != EPERM && error != EXDEV) return SetErrno(error);
  } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
    return -1;
  }
  // File systems without unnamed files (FAT, exFAT, FUSE): created under its name, then marked.
  fd = ::openat(folder_fd, partial_name.c_str(), O_CREAT | O_EXCL | O_NOFOLLOW | access | O_CLOEXEC,
                0644);
  if (fd >= 0) MarkPartial(fd, final_name);
  return fd;
}

int AdoptPartialFile(int folder_fd, const std::string& partial_name,
                     const std::string& final_name) {
  const int fd = ::openat(folder_fd, partial_name.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st {};
  int error = 0;
  if (::fstat(fd, &st) != 0) {
    error = errno;
  } else if (!S_ISREG(st.st_mode) || !CarriesMarker(fd, final_name)) {
    error = EINVAL;
  } else if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    error = errno == EWOULDBLOCK ? EBUSY : errno;
  }
  if (error == 0) return fd;
  ::close(fd);
  return SetErrno(error);
}

size_t RemoveStalePartialFiles(const std::string& folder) {
  const int folder_fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder_fd < 0) return 0;
  const size_t removed = RemoveStalePartialFilesIn(folder_fd);
  ::close(folder_fd);
  return removed;
}

size_t RemoveStalePartialFilesIn(int folder_fd) {
  const int listed_fd = ::dup(folder_fd);
  DIR* dir = listed_fd < 0 ? nullptr : ::fdopendir(listed_fd);
  if (dir == nullptr) {
    if (listed_fd >= 0) ::close(listed_fd);
    return 0;
  }
  ::rewinddir(dir);
  size_t removed = 0;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (IsStalePartial(folder_fd, name) && ::unlinkat(folder_fd, name.c_str(), 0) == 0) ++removed;
  }
  ::closedir(dir);
  return removed;
}

}  // namespace kestrel
