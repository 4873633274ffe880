#pragma once
// A recovered file being written: created exclusively (an existing file is never truncated),
// written through a buffer, and closed with its final flush checked.
//
// Until it is complete the file lives under a hidden partial name beside its own name,
// ".NAME.part" (platform/partial_files.h), so a run that is killed never leaves a cut-short file
// under a recovered name. Close() gives the file its name (a rename that never replaces);
// Discard() deletes it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrel {

// Why a file operation failed, in the three classes the recovery writers react to.
enum class FileErrorCause { kNone, kDiskFull, kBadPath, kOther };

FileErrorCause ClassifyErrno(int error);

class OutputFile {
 public:
  OutputFile() = default;
  // An open file that was neither closed nor discarded is discarded: it is not complete.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&& other) noexcept;

  // Starts the file that will be named `path`, written at PartialPathFor(path). Fails with
  // EEXIST when `path` or its partial name already exists (a live run's partial file reserves
  // its name). `readable` opens it read-write.
  FileErrorCause Create(const std::string& path, bool readable = false);
  // The same for the file `name` in the folder open at `folder_fd`, which the caller keeps open
  // until the file is closed or discarded; nothing is followed through a link. `shown_path` is
  // its path for messages and lists.
  FileErrorCause CreateIn(int folder_fd, const std::string& name, const std::string& shown_path,
                          bool readable = false);
  // Goes on with the unfinished partial file that an ended run left for `path`, cut back to its
  // first `length` bytes. Fails with EEXIST when `path` exists, ENODATA when the partial file is
  // shorter.
  FileErrorCause Adopt(const std::string& path, uint64_t length);
  bool is_open() const { return fd_ >= 0; }
  int descriptor() const { return fd_; }
  // The name the file gets when it is closed.
  const std::string& path() const { return path_; }
  const std::string& partial_path() const { return partial_path_; }
  // Changes the name the file gets when it is closed to `name` in the folder open at
  // `folder_fd` (shown as `shown_path`); the partial file keeps its name and folder.
  void SetFinalName(int folder_fd, const std::string& name, const std::string& shown_path);

  // Appends bytes. Returns kNone, or the cause of the failure (the bytes may be partly lost).
  FileErrorCause Write(const void* data, size_t length);
  // Appends `length` zero bytes as a hole where the file system has them: nothing is written
  // for them, the file is only made longer.
  FileErrorCause AppendHole(uint64_t length);
  // Bytes appended so far, buffered ones included.
  uint64_t Length() const { return length_; }
  // Reads back bytes already appended (flushes first). False when they cannot be read.
  bool ReadBack(uint64_t offset, void* buffer, size_t length);
  // Cuts the file to `length` bytes (only shortens).
  FileErrorCause Truncate(uint64_t length);
  FileErrorCause Flush();
  // Flushes, renames the partial file to path() and closes. The result of the last flush, of
  // the rename and of close() count as write results. A file that failed any write, or whose
  // closing fails, is deleted and never appears under its name; the first failure is returned.
  FileErrorCause Close();
  // Closes without checking and deletes the partial file; path() stays free.
  void Discard();

  int last_errno() const { return last_errno_; }

 private:
  FileErrorCause Fail(int error);
  FileErrorCause Commit();
  void CloseDescriptor();
  // Makes the file as long as Length() when it ends in a hole.
  FileErrorCause FillEndHole();
  int fd_ = -1;
  std::string path_;
  std::string partial_path_;
  // The folders and names the partial file and the final name are at (a path each with
  // AT_FDCWD).
  int folder_fd_ = -1;
  std::string partial_name_;
  int final_folder_fd_ = -1;
  std::string final_name_;
  bool ends_in_hole_ = false;  // the last bytes appended were a hole not yet on the disk
  std::vector<uint8_t> buffer_;
  uint64_t length_ = 0;
  int last_errno_ = 0;
  int first_failure_ = 0;  // errno of the first failed write, flush or truncate
};

}  // namespace kestrel
