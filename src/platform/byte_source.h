#pragma once
// Read-only random access to a recovery source: a block device, an image file, a partition
// inside an image, or a test double. Nothing in Kestrel can write through this interface.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kestrel {

// Bytes [first, end) of a source.
struct ByteRange {
  uint64_t first = 0;
  uint64_t end = 0;
};

class ByteSource {
 public:
  virtual ~ByteSource() = default;

  // Reads up to `length` bytes at `offset`. Returns the number of bytes read (0 at or past the
  // end), or -1 when the read failed (the errno value is kept in LastError()).
  virtual int64_t ReadAt(uint64_t offset, void* buffer, size_t length) = 0;

  // Size of the source in bytes.
  virtual uint64_t Size() const = 0;

  // Errno value of the last failed read, 0 when none failed.
  virtual int LastError() const { return 0; }

  // Whether two threads may call ReadAt at the same time.
  virtual bool ReadsConcurrently() const { return false; }

  // The first run of bytes at or after `offset` that may hold anything but zeros; the bytes
  // between `offset` and its start are zeros that need no read (the holes of a sparse image).
  // {Size(), Size()} when only such zeros follow. A source that cannot tell answers
  // {offset, Size()}: everything may be data.
  virtual ByteRange DataFrom(uint64_t offset) { return {offset, Size()}; }

  // Reads exactly `length` bytes; false on a failure or a short read.
  bool ReadExact(uint64_t offset, void* buffer, size_t length);
};

// A source read from an open file descriptor with pread. `base` and `length` restrict it to a
// slice of the file (a partition inside a disk image); length 0 means "to the end".
class FileByteSource : public ByteSource {
 public:
  // Opens `path` read-only. Returns null and sets `error` (errno) when it cannot be opened.
  static std::unique_ptr<FileByteSource> Open(const std::string& path, int* error = nullptr,
                                              uint64_t base = 0, uint64_t length = 0);
  ~FileByteSource() override;
  FileByteSource(const FileByteSource&) = delete;
  FileByteSource& operator=(const FileByteSource&) = delete;

  int64_t ReadAt(uint64_t offset, void* buffer, size_t length) override;
  uint64_t Size() const override { return size_; }
  int LastError() const override { return last_error_; }
  // pread is safe from any number of threads.
  bool ReadsConcurrently() const override { return true; }
  // From the file system's record of the file's holes (SEEK_DATA, SEEK_HOLE).
  ByteRange DataFrom(uint64_t offset) override;
  int fd() const { return fd_; }

 private:
  FileByteSource(int fd, uint64_t base, uint64_t size) : fd_(fd), base_(base), size_(size) {}
  int fd_;
  uint64_t base_;
  uint64_t size_;
  std::atomic<int> last_error_{0};
};

// Opens a source for reading: a regular file or a block device, never anything else. The open
// does not wait (a FIFO would block until someone writes to it). Returns the descriptor, or -1
// with errno set (ENODEV for a FIFO, socket, character device or folder).
int OpenSourceFile(const std::string& path);

// Size in bytes of an open file or block device (BLKGETSIZE64 for a device).
bool QueryFdSize(int fd, uint64_t* size);
// Logical sector size of an open block device (BLKSSZGET); 512 for regular files.
uint32_t QueryFdSectorSize(int fd);

}  // namespace kestrel
