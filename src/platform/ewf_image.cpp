#include "platform/ewf_image.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <vector>

#if KESTREL_HAVE_LIBEWF
#include <libewf.h>
#endif

namespace kestrel {

bool HasEwfSignature(const std::string& path) {
  // "EVF" segment files (E01), "LVF" logical evidence (L01), "EVF2" and "LEF2" for Ex01/Lx01.
  static constexpr std::array<std::array<uint8_t, 8>, 4> kSignatures{{
      {'E', 'V', 'F', 0x09, 0x0D, 0x0A, 0xFF, 0x00},
      {'L', 'V', 'F', 0x09, 0x0D, 0x0A, 0xFF, 0x00},
      {'E', 'V', 'F', '2', 0x0D, 0x0A, 0x81, 0x00},
      {'L', 'E', 'F', '2', 0x0D, 0x0A, 0x81, 0x00},
  }};
  const int fd = OpenSourceFile(path);
  if (fd < 0) return false;
  std::array<uint8_t, 8> head{};
  const bool read = ::pread(fd, head.data(), head.size(), 0) == static_cast<ssize_t>(head.size());
  ::close(fd);
  if (!read) return false;
  for (const auto& signature : kSignatures) {
    if (head == signature) return true;
  }
  return false;
}

#if KESTREL_HAVE_LIBEWF
namespace {

// The innermost cause of a libewf error (its last line), freeing the error.
std::string TakeErrorText(libewf_error_t* error) {
  if (error == nullptr) return "unknown error";
  std::array<char, 2048> text{};
  libewf_error_backtrace_sprint(error, text.data(), text.size());
  libewf_error_free(&error);
  std::string all(text.data());
  while (!all.empty() && (all.back() == '\n' || all.back() == '\r')) all.pop_back();
  const size_t last = all.rfind('\n');
  return last == std::string::npos ? all : all.substr(last + 1);
}

// Sectors [first, first + count) whose chunk failed its checksum.
struct BadRange {
  uint64_t first = 0;
  uint64_t count = 0;
};

class EwfImage : public ByteSource {
 public:
  explicit EwfImage(libewf_handle_t* handle) : handle_(handle) {
    size64_t size = 0;
    if (libewf_handle_get_media_size(handle_, &size, nullptr) == 1) size_ = size;
    uint32_t bytes = 0;
    if (libewf_handle_get_bytes_per_sector(handle_, &bytes, nullptr) == 1 && bytes != 0) {
      sector_bytes_ = bytes;
    }
  }
  ~EwfImage() override {
    libewf_handle_close(handle_, nullptr);
    libewf_handle_free(&handle_, nullptr);
  }
  EwfImage(const EwfImage&) = delete;
  EwfImage& operator=(const EwfImage&) = delete;

  int64_t ReadAt(uint64_t offset, void* buffer, size_t length) override {
    if (offset >= size_) return 0;
    length = static_cast<size_t>(std::min<uint64_t>(length, size_ - offset));
    const ssize_t got =
        libewf_handle_read_random(handle_, buffer, length, static_cast<off64_t>(offset), nullptr);
    NoteChecksumErrors();
    if (got < 0 || Damaged(offset, length)) {
      last_error_ = EIO;
      return -1;
    }
    return got;
  }
  uint64_t Size() const override { return size_; }
  int LastError() const override { return last_error_; }

 private:
  // libewf lists a chunk whose checksum fails once, at its first read; kept here so that every
  // later read of its sectors fails too.
  void NoteChecksumErrors() {
    uint32_t count = 0;
    if (libewf_handle_get_number_of_checksum_errors(handle_, &count, nullptr) != 1) return;
    for (uint32_t i = static_cast<uint32_t>(bad_.size()); i < count; ++i) {
      BadRange range;
      if (libewf_handle_get_checksum_error(handle_, i, &range.first, &range.count, nullptr) == 1) {
        bad_.push_back(range);
      }
    }
  }
  bool Damaged(uint64_t offset, size_t length) const {
    const uint64_t first = offset / sector_bytes_;
    const uint64_t end = (offset + length + sector_bytes_ - 1) / sector_bytes_;
    for (const BadRange& range : bad_) {
      if (range.first < end && first < range.first + range.count) return true;
    }
    return false;
  }

  libewf_handle_t* handle_;
  uint64_t size_ = 0;
  uint64_t sector_bytes_ = 512;
  std::vector<BadRange> bad_;
  int last_error_ = 0;
};

// The segment files libewf finds for the first segment `path`.
std::vector<std::string> GlobSegments(const std::string& path, std::string* error) {
  char** names = nullptr;
  int count = 0;
  libewf_error_t* failure = nullptr;
  if (libewf_glob(path.c_str(), path.size(), LIBEWF_FORMAT_UNKNOWN, &names, &count, &failure) !=
      1) {
    *error = "the EWF image " + path + " cannot be read: " + TakeErrorText(failure);
    return {};
  }
  std::vector<std::string> segments(names, names + count);
  libewf_glob_free(names, count, nullptr);
  return segments;
}

bool Exists(const std::string& path) {
  return ::access(path.c_str(), F_OK) == 0;
}

// The name of segment `number` (counted from 1) beside `segment`, whose name ends in its own
// two-digit number ("case.E01", "case.Ex01"); "" past 99 or for another naming.
std::string SegmentNamed(const std::string& segment, size_t number) {
  const size_t size = segment.size();
  if (number > 99 || size < 2 || !std::isdigit(static_cast<unsigned char>(segment[size - 1])) ||
      !std::isdigit(static_cast<unsigned char>(segment[size - 2]))) {
    return "";
  }
  std::string name = segment;
  name[size - 2] = static_cast<char>('0' + number / 10);
  name[size - 1] = static_cast<char>('0' + number % 10);
  return name;
}

// Why an image whose segments libewf finds incomplete cannot be read: a segment missing before
// a later one, or the last one found cut short (or the ones after it lost).
std::string IncompleteText(const std::vector<std::string>& segments) {
  const size_t next = segments.size() + 1;
  const std::string missing = SegmentNamed(segments.back(), next);
  for (size_t later = next + 1; !missing.empty() && later <= next + 3; ++later) {
    if (Exists(SegmentNamed(segments.back(), later))) {
      return "segment " + missing + " of the EWF image is missing";
    }
  }
  return "the EWF image is incomplete: its last segment found, " + segments.back() +
         ", is truncated or damaged, or the segments after it are missing";
}

}  // namespace

bool EwfSupported() {
  return true;
}

std::unique_ptr<ByteSource> OpenEwfImage(const std::string& path, std::string* error) {
  std::vector<std::string> segments = GlobSegments(path, error);
  if (segments.empty()) return nullptr;
  std::vector<char*> names;
  for (std::string& segment : segments) names.push_back(segment.data());
  libewf_handle_t* handle = nullptr;
  libewf_error_t* failure = nullptr;
  if (libewf_handle_initialize(&handle, &failure) != 1) {
    *error = "the EWF image " + path + " cannot be read: " + TakeErrorText(failure);
    return nullptr;
  }
  if (libewf_handle_open(handle, names.data(), static_cast<int>(names.size()), LIBEWF_OPEN_READ,
                         &failure) != 1) {
    *error = "the EWF image " + path + " (" + std::to_string(segments.size()) +
             " segment file(s), the last " + segments.back() +
             ") cannot be read: " + TakeErrorText(failure);
    libewf_handle_free(&handle, nullptr);
    return nullptr;
  }
  if (libewf_handle_segment_files_corrupted(handle, nullptr) != 0) {
    *error = IncompleteText(segments);
    libewf_handle_close(handle, nullptr);
    libewf_handle_free(&handle, nullptr);
    return nullptr;
  }
  libewf_handle_set_read_zero_chunk_on_error(handle, 1, nullptr);
  return std::make_unique<EwfImage>(handle);
}

#else

bool EwfSupported() {
  return false;
}

std::unique_ptr<ByteSource> OpenEwfImage(const std::string& path, std::string* error) {
  *error = path +
           " is an EWF (E01) evidence image, and this build of Kestrel cannot read those (it "
           "was built without libewf)";
  return nullptr;
}

#endif

}  // namespace kestrel
