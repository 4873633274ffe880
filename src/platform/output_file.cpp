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

bool ExistsAt(int folder_fd, const std::string& name) {
  struct stat st {};
  return ::fstatat(folder_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
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
    folder_fd_ = other.folder_fd_;
    partial_name_ = std::move(other.partial_name_);
    final_folder_fd_ = other.final_folder_fd_;
    final_name_ = std::move(other.final_name_);
    ends_in_hole_ = other.ends_in_hole_;
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
  return CreateIn(AT_FDCWD, path, path, readable);
}

FileErrorCause OutputFile::CreateIn(int folder_fd, const std::string& name,
                                    const std::string& shown_path, bool readable) {
  if (fd_ >= 0) Discard();
  path_ = shown_path;
  partial_path_ = PartialPathFor(shown_path);
  folder_fd_ = final_folder_fd_ = folder_fd;
  final_name_ = name;
  partial_name_ = PartialPathFor(name);
  length_ = 0;
  first_failure_ = 0;
  ends_in_hole_ = false;
  buffer_.clear();
  if (ExistsAt(folder_fd_, final_name_)) return Fail(EEXIST);
  const int fd = CreatePartialFile(folder_fd_, partial_name_, NameOf(name), readable);
  if (fd < 0) return Fail(errno);
  fd_ = fd;
  // Another run may have given the name to its file just before the partial file was made.
  if (ExistsAt(folder_fd_, final_name_)) {
    Discard();
    return Fail(EEXIST);
  }
  buffer_.reserve(kBufferSize);
  return FileErrorCause::kNone;
}

FileErrorCause OutputFile::Adopt(const std::string& path, uint64_t length) {
  if (fd_ >= 0) Discard();
  path_ = final_name_ = path;
  partial_path_ = partial_name_ = PartialPathFor(path);
  folder_fd_ = final_folder_fd_ = AT_FDCWD;
  length_ = 0;
  first_failure_ = 0;
  ends_in_hole_ = false;
  buffer_.clear();
  if (ExistsAt(folder_fd_, final_name_)) return Fail(EEXIST);
  const int fd = AdoptPartialFile(folder_fd_, partial_name_, NameOf(path));
  if (fd < 0) return Fail(errno);
  struct stat st {};
  int error = 0;
  if (::fstat(fd, &st) != 0) {
    error = errno;
  } else if (static_cast<uint64_t>(st.st_size) < length) {
    error = ENODATA;
  } else if (::ftruncate(fd, static_cast<off_t>(length)) != 0 ||
             ::lseek(fd, static_cast<off_t>(length), SEEK_SET) < 0) {
    error = errno;
  }
  if (error != 0) {
    ::close(fd);
    return Fail(error);
  }
  fd_ = fd;
  length_ = length;
  buffer_.reserve(kBufferSize);
  return FileErrorCause::kNone;
}

void OutputFile::SetFinalName(int folder_fd, const std::string& name,
                              const std::string& shown_path) {
  final_folder_fd_ = folder_fd;
  final_name_ = name;
  path_ = shown_path;
}

FileErrorCause OutputFile::AppendHole(uint64_t length) {
  if (fd_ < 0) return Fail(EBADF);
  if (length == 0) return FileErrorCause::kNone;
  if (FileErrorCause cause = Flush(); cause != FileErrorCause::kNone) return cause;
  if (::lseek(fd_, static_cast<off_t>(length), SEEK_CUR) < 0) return Fail(errno);
  length_ += length;
  ends_in_hole_ = true;
  return FileErrorCause::kNone;
}

FileErrorCause OutputFile::FillEndHole() {
  if (!ends_in_hole_) return FileErrorCause::kNone;
  if (::ftruncate(fd_, static_cast<off_t>(length_)) != 0) return Fail(errno);
  ends_in_hole_ = false;
  return FileErrorCause::kNone;
}

FileErrorCause OutputFile::Write(const void* data, size_t length) {
  if (fd_ < 0) return Fail(EBADF);
  const auto* bytes = static_cast<const uint8_t*>(data);
  length_ += length;
  if (length != 0) ends_in_hole_ = false;
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
  if (Flush() != FileErrorCause::kNone || FillEndHole() != FileErrorCause::kNone) return false;
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
  ends_in_hole_ = false;
  // Later writes go on at the new end, not where the file ended before.
  if (::lseek(fd_, static_cast<off_t>(length), SEEK_SET) < 0) return Fail(errno);
  length_ = length;
  return FileErrorCause::kNone;
}

// The rename happens while the partial file is still open and locked, so no other run can take
// it for a leftover in between.
FileErrorCause OutputFile::Commit() {
  Flush();
  FillEndHole();
  if (first_failure_ != 0) return Fail(first_failure_);
  if (int error = RenameNoReplaceAt(folder_fd_, partial_name_, final_folder_fd_, final_name_);
      error != 0) {
    return Fail(error);
  }
  const bool closed = ::close(fd_) == 0;
  fd_ = -1;
  if (closed) return FileErrorCause::kNone;
  const FileErrorCause cause = Fail(errno);
  // The name was given by this rename; its content is in doubt.
  ::unlinkat(final_folder_fd_, final_name_.c_str(), 0);
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
  ::unlinkat(folder_fd_, partial_name_.c_str(), 0);
  CloseDescriptor();
}

}  // namespace kestrel
