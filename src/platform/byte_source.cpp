#include "platform/byte_source.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace kestrel {

bool ByteSource::ReadExact(uint64_t offset, void* buffer, size_t length) {
  return ReadAt(offset, buffer, length) == static_cast<int64_t>(length);
}

bool QueryFdSize(int fd, uint64_t* size) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return false;
  if (S_ISBLK(st.st_mode)) {
    uint64_t bytes = 0;
    if (ioctl(fd, BLKGETSIZE64, &bytes) != 0) return false;
    *size = bytes;
    return true;
  }
  if (!S_ISREG(st.st_mode)) return false;
  *size = static_cast<uint64_t>(st.st_size);
  return true;
}

uint32_t QueryFdSectorSize(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISBLK(st.st_mode)) return 512;
  int bytes = 0;
  if (ioctl(fd, BLKSSZGET, &bytes) != 0 || bytes <= 0 || bytes % 512 != 0) return 512;
  return static_cast<uint32_t>(bytes);
}

int OpenSourceFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return -1;
  struct stat st {};
  const bool stated = fstat(fd, &st) == 0;
  if (!stated || !(S_ISREG(st.st_mode) || S_ISBLK(st.st_mode))) {
    const int error = stated ? ENODEV : errno;
    ::close(fd);
    errno = error;
    return -1;
  }
  // Reads of a file or a device wait for their data as usual.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

std::unique_ptr<FileByteSource> FileByteSource::Open(const std::string& path, int* error,
                                                     uint64_t base, uint64_t length) {
  int fd = OpenSourceFile(path);
  if (fd < 0) {
    if (error) *error = errno;
    return nullptr;
  }
  uint64_t total = 0;
  if (!QueryFdSize(fd, &total)) {
    if (error) *error = errno ? errno : EINVAL;
    ::close(fd);
    return nullptr;
  }
  uint64_t size = base >= total ? 0 : total - base;
  if (length != 0) size = std::min(size, length);
  return std::unique_ptr<FileByteSource>(new FileByteSource(fd, base, size));
}

FileByteSource::~FileByteSource() {
  ::close(fd_);
}

int64_t FileByteSource::ReadAt(uint64_t offset, void* buffer, size_t length) {
  if (offset >= size_) return 0;
  length = static_cast<size_t>(std::min<uint64_t>(length, size_ - offset));
  auto* out = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < length) {
    ssize_t got =
        ::pread(fd_, out + done, length - done, static_cast<off_t>(base_ + offset + done));
    if (got < 0) {
      if (errno == EINTR) continue;
      last_error_ = errno;
      if (done == 0) return -1;
      break;
    }
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  return static_cast<int64_t>(done);
}

ByteRange FileByteSource::DataFrom(uint64_t offset) {
  const ByteRange everything{offset, size_};
  if (offset >= size_) return {size_, size_};
  const auto at = static_cast<off_t>(base_ + offset);
  const off_t data = ::lseek(fd_, at, SEEK_DATA);
  if (data < 0) {
    // No data after `offset`: zeros up to the file's end, unless the file has become shorter
    // than the source (then the reads tell what is missing).
    struct stat st {};
    const bool trailing_hole = errno == ENXIO && fstat(fd_, &st) == 0 && S_ISREG(st.st_mode) &&
                               static_cast<uint64_t>(st.st_size) >= base_ + size_;
    return trailing_hole ? ByteRange{size_, size_} : everything;
  }
  const off_t hole = ::lseek(fd_, data, SEEK_HOLE);
  const auto first = std::min<uint64_t>(static_cast<uint64_t>(data) - base_, size_);
  if (hole < 0) return {first, size_};
  return {first, std::clamp<uint64_t>(static_cast<uint64_t>(hole) - base_, first, size_)};
}

}  // namespace kestrel
