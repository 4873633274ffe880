#pragma once
// Small file operations for files that must never be left half-written or silently replaced:
// whole-file reads with a size cap, atomic replacement, moving a file aside to a free name, and
// an exclusive advisory lock held for the life of an object.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kestrel {

enum class ReadFileStatus { kOk, kMissing, kTooLarge, kFailed };

// Reads a regular file of at most `max_bytes` bytes into `contents`.
ReadFileStatus ReadWholeFile(const std::string& path, size_t max_bytes, std::string* contents);

// Writes `contents` to a new file beside `path`, flushes it to the disk and renames it over
// `path`, so that readers see either the old or the new file, never a mix. An existing file's
// permission bits are kept. Returns 0, or the errno value of the step that failed.
int ReplaceFileAtomically(const std::string& path, std::string_view contents);

// Flushes everything written to the file system that holds `path` to its disk (syncfs), so that
// a record written after it never names bytes a power cut can take back. Returns 0 or errno.
int SyncFileSystemOf(const std::string& path);

// The folder part of `path` ("." when it has none, "/" for a file in the root).
std::string FolderOf(const std::string& path);

// rename() that fails with EEXIST instead of replacing a file. Returns 0 or the errno value.
int RenameNoReplace(const std::string& from, const std::string& to);
// The same with `from` and `to` relative to the folders open at `from_folder` and `to_folder`
// (AT_FDCWD: the working folder).
int RenameNoReplaceAt(int from_folder, const std::string& from, int to_folder,
                      const std::string& to);

// Renames `path` to `path` + `suffix` (or + suffix + "-2", "-3", ... when that name is taken),
// never replacing an existing file. Returns the new path, or "" when it could not be moved.
std::string MoveAsideToFreeName(const std::string& path, const std::string& suffix);

// An exclusive flock on `path` (created when missing), released by the destructor.
class ExclusiveFileLock {
 public:
  static std::optional<ExclusiveFileLock> Acquire(const std::string& path);
  ExclusiveFileLock(ExclusiveFileLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  ExclusiveFileLock& operator=(ExclusiveFileLock&&) = delete;
  ExclusiveFileLock(const ExclusiveFileLock&) = delete;
  ~ExclusiveFileLock();

 private:
  explicit ExclusiveFileLock(int fd) : fd_(fd) {}
  int fd_;
};

}  // namespace kestrel
