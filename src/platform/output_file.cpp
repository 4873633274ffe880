#include "platform/output_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace kestrel {
namespace {
constexpr size_t kBufferSize = 256 * 1024;
}

FileErrorCause ClassifyErrno(int error) {
  switch (error) {
    case 0:
      return FileErrorCause::kNone;
    case ENOSPC:
    case EDQUOT:
      return FileErrorCause::kDiskFull;
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case EINVAL:
    case EILSEQ:
      return FileErrorCause::kBadPath;
    default:
      return FileErrorCause::kOther;
  }
}

OutputFile::~OutputFile() {
  if (fd_ >= 0) Close();
}

OutputFile::OutputFile(OutputFile&& other) noexcept {
  *this = std::move(other);
}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) Close();
    fd_ = std::exchange(other.fd_, -1);
    path_ = std::move(other.path_);
    buffer_ = std::move(other.buffer_);
    length_ = std::exchange(other.length_, 0);
    last_errno_ = other.last_errno_;
  }
  return *this;
}

FileErrorCause OutputFile::Fail(int error) {
  last_errno_ = error;
  return ClassifyErrno(error);
}

FileErrorCause OutputFile::Create(const std::string& path, bool readable) {
  if (fd_ >= 0) Close();
  int flags = O_CREAT | O_EXCL | O_CLOEXEC | (readable ? O_RDWR : O_WRONLY);
  fd_ = ::open(path.c_str(), flags, 0644);
  if (fd_ < 0) return Fail(errno);
  path_ = path;
  length_ = 0;
  buffer_.clear();
  buffer_.reserve(kBufferSize);
  return FileErrorCause::kNone;
}

FileErrorCause OutputFile::Write(const void* data, size_t length) {
  if (fd_ < 0) return Fail(EBADF);
  const auto* bytes = static_cast<const uint8_t*>(data);
  length_ += length;
  if (buffer_.size() + length <= kBufferSize) {
    buffer_.insert(buffer_.end(), bytes, bytes + length);
    return FileErrorCause::kNone;
  }
  if (FileErrorCause cause = Flush(); cause != FileErrorCause::kNone) return cause;
  if (length >= kBufferSize) {
    size_t done = 0;
    while (done < length) {
      ssize_t n = ::write(fd_, bytes + done, length - done);
      if (n < 0) {
        if (errno == EINTR) continue;
        return Fail(errno);
      }
      done += static_cast<size_t>(n);
    }
    return FileErrorCause::kNone;
  }
  buffer_.insert(buffer_.end(), bytes, bytes + length);
  return FileErrorCause::kNone;
}

FileErrorCause OutputFile::Flush() {
  if (fd_ < 0) return FileErrorCause::kNone;
  size_t done = 0;
  while (done < buffer_.size()) {
    ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(done));
      return Fail(errno);
    }
    done += static_cast<size_t>(n);
  }
  buffer_.clear();
  return FileErrorCause::kNone;
}

bool OutputFile::ReadBack(uint64_t offset, void* buffer, size_t length) {
  if (fd_ < 0 || offset + length > length_) return false;
  if (Flush() != FileErrorCause::kNone) return false;
  auto* out = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < length) {
    ssize_t n = ::pread(fd_, out + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

FileErrorCause OutputFile::Truncate(uint64_t length) {
  if (fd_ < 0 || length >= length_) return FileErrorCause::kNone;
  if (FileErrorCause cause = Flush(); cause != FileErrorCause::kNone) return cause;
  if (::ftruncate(fd_, static_cast<off_t>(length)) != 0) return Fail(errno);
  length_ = length;
  return FileErrorCause::kNone;
}

FileErrorCause OutputFile::Close() {
  if (fd_ < 0) return FileErrorCause::kNone;
  FileErrorCause cause = Flush();
  if (::close(fd_) != 0 && cause == FileErrorCause::kNone) cause = Fail(errno);
  fd_ = -1;
  buffer_.clear();
  buffer_.shrink_to_fit();
  return cause;
}

void OutputFile::Discard() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  buffer_.clear();
  if (!path_.empty()) ::unlink(path_.c_str());
}

}  // namespace kestrel
