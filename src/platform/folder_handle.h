#pragma once
// Folders that files are created in, opened without following symbolic links: a folder that
// other users can write to cannot send a file elsewhere by putting a link where a folder was.

#include <string>

namespace kestrel {

// An open folder (its descriptor, closed with the handle).
class FolderHandle {
 public:
  FolderHandle() = default;
  explicit FolderHandle(int fd) : fd_(fd) {}
  ~FolderHandle();
  FolderHandle(FolderHandle&& other) noexcept;
  FolderHandle& operator=(FolderHandle&& other) noexcept;
  FolderHandle(const FolderHandle&) = delete;
  FolderHandle& operator=(const FolderHandle&) = delete;

  bool is_open() const { return fd_ >= 0; }
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

// Opens the folder `name` inside the folder open at `parent_fd`, made first when `create` and
// missing. Never through a link: a link (ELOOP) or anything else that is not a folder (ENOTDIR)
// at `name` fails. On failure the handle is not open and `*error` holds the errno value.
FolderHandle OpenFolderIn(int parent_fd, const std::string& name, bool create, int* error);

// Opens the run folder `path`: the folder above it is taken as it is (the recovery folder the
// user chose, made with its parents when `create`), the last component as OpenFolderIn does.
FolderHandle OpenRunFolder(const std::string& path, bool create, int* error);

}  // namespace kestrel
