#include "platform/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/atomic_file.h"
#include "platform/partial_files.h"

namespace kestrel {
namespace {
constexpr size_t kBufferSize = 256 * 1024;

bool PathExists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

std::string NameOf(const std::string& path) {
  return path.substr(path.find_last_of('/') + 1);
}
}  // namespace

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
  if (fd_ >= 0) Discard();
}

OutputFile::OutputFile(OutputFile&& other) noexcept {
  *this = std::move(other);
}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) Discard();
    fd_ = std::exchange(other.fd_, -1);
    path_ = std::move(other.path_);
    partial_path_ = std::move(other.partial_path_);
    buffer_ = std::move(other.buffer_);
    length_ = std::exchange(other.length_, 0);
    last_errno_ = other.last_errno_;
    first_failure_ = std::exchange(other.first_failure_, 0);
  }
  return *this;
}

FileErrorCause OutputFile::Fail(int error) {
  last_errno_ = error;
  if (fd_ >= 0 && first_failure_ == 0) first_failure_ = error;
  return ClassifyErrno(error);
}

FileErrorCause OutputFile::Create(const std::string& path, bool readable) {
  if (fd_ >= 0) Discard();
  path_ = path;
  partial_path_ = PartialPathFor(path);
  length_ = 0;
  first_failure_ = 0;
  buffer_.clear();
  if (PathExists(path)) return Fail(EEXIST);
  const int fd = CreatePartialFile(partial_path_, NameOf(path), readable);
  if (fd < 0) return Fail(errno);
  fd_ = fd;
  // Another run may have given the name to its file just before the partial file was made.
  if (PathExists(path)) {
    Discard();
    return Fail(EEXIST);
  }
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
  // Later writes go on at the new end, not where the file ended before.
  if (::lseek(fd_, static_cast<off_t>(length), SEEK_SET) < 0) return Fail(errno);
  length_ = length;
  return FileErrorCause::kNone;
}

// The rename happens while the partial file is still open and locked, so no other run can take
// it for a leftover in between.
FileErrorCause OutputFile::Commit() {
  Flush();
  if (first_failure_ != 0) return Fail(first_failure_);
  if (int error = RenameNoReplace(partial_path_, path_); error != 0) return Fail(error);
  const bool closed = ::close(fd_) == 0;
  fd_ = -1;
  if (closed) return FileErrorCause::kNone;
  const FileErrorCause cause = Fail(errno);
  ::unlink(path_.c_str());  // the name was given by this rename; its content is in doubt
  return cause;
}

FileErrorCause OutputFile::Close() {
  if (fd_ < 0) return FileErrorCause::kNone;
  const FileErrorCause cause = Commit();
  if (fd_ >= 0) Discard();
  CloseDescriptor();
  return cause;
}

void OutputFile::CloseDescriptor() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  buffer_.clear();
  buffer_.shrink_to_fit();
}

void OutputFile::Discard() {
  if (fd_ < 0) return;
  // Unlinked before the close, while this process still holds the lock.
  ::unlink(partial_path_.c_str());
  CloseDescriptor();
}

}  // namespace kestrel
