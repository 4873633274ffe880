#include "platform/folder_handle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>
#include <utility>

#include "platform/atomic_file.h"

namespace kestrel {

FolderHandle::~FolderHandle() {
  if (fd_ >= 0) ::close(fd_);
}

FolderHandle::FolderHandle(FolderHandle&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

FolderHandle& FolderHandle::operator=(FolderHandle&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

FolderHandle OpenFolderIn(int parent_fd, const std::string& name, bool create, int* error) {
  *error = 0;
  if (create && ::mkdirat(parent_fd, name.c_str(), 0777) != 0 && errno != EEXIST) {
    *error = errno;
    return {};
  }
  const int fd = ::openat(parent_fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd >= 0) return FolderHandle(fd);
  *error = errno;
  // Some kernels answer ENOTDIR for a link opened with O_DIRECTORY: a link is named as such.
  struct stat st {};
  if (::fstatat(parent_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
    *error = ELOOP;
  }
  return {};
}

FolderHandle OpenRunFolder(const std::string& path, bool create, int* error) {
  std::string folder = path;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  const std::string parent = FolderOf(folder);
  const std::string name = folder.substr(folder.find_last_of('/') + 1);
  if (create) {
    std::error_code ec;
    std::filesystem::create_directories(parent, ec);
  }
  const int parent_fd = ::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (parent_fd < 0) {
    *error = errno;
    return {};
  }
  FolderHandle run_folder = OpenFolderIn(parent_fd, name, create, error);
  ::close(parent_fd);
  return run_folder;
}

}  // namespace kestrel
