#pragma once
// A recovered file being written: created exclusively (an existing file is never truncated),
// written through a buffer, and closed with its final flush checked.

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
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&& other) noexcept;

  // Creates `path`, failing with EEXIST when it already exists. `readable` opens it read-write.
  FileErrorCause Create(const std::string& path, bool readable = false);
  bool is_open() const { return fd_ >= 0; }
  const std::string& path() const { return path_; }

  // Appends bytes. Returns kNone, or the cause of the failure (the bytes may be partly lost).
  FileErrorCause Write(const void* data, size_t length);
  // Bytes appended so far, buffered ones included.
  uint64_t Length() const { return length_; }
  // Reads back bytes already appended (flushes first). False when they cannot be read.
  bool ReadBack(uint64_t offset, void* buffer, size_t length);
  // Cuts the file to `length` bytes (only shortens).
  FileErrorCause Truncate(uint64_t length);
  FileErrorCause Flush();
  // Flushes and closes; the result of the last flush and of close() count as write results.
  FileErrorCause Close();
  // Closes without checking and deletes the file.
  void Discard();

  int last_errno() const { return last_errno_; }

 private:
  FileErrorCause Fail(int error);
  int fd_ = -1;
  std::string path_;
  std::vector<uint8_t> buffer_;
  uint64_t length_ = 0;
  int last_errno_ = 0;
};

}  // namespace kestrel
