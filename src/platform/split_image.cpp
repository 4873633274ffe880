#include "platform/split_image.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

namespace kestrel {
namespace {

constexpr size_t kMaxOpenSegments = 16;

// Where the segment number of `name` starts and how wide it is, with its value.
struct Suffix {
  size_t at = 0;
  size_t width = 0;
  bool letters = false;
  uint64_t value = 0;
};

size_t BaseNameStart(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? 0 : slash + 1;
}

std::optional<Suffix> DigitSuffix(const std::string& name) {
  size_t at = name.size();
  while (at > BaseNameStart(name) && name[at - 1] >= '0' && name[at - 1] <= '9') --at;
  const size_t width = name.size() - at;
  if (width < 2 || width > 6 || at == 0 || name[at - 1] != '.') return std::nullopt;
  const uint64_t value = std::stoull(name.substr(at));
  if (value > 1) return std::nullopt;
  return Suffix{at, width, false, value};
}

std::optional<Suffix> LetterSuffix(const std::string& name) {
  size_t at = name.size();
  while (at > BaseNameStart(name) && name[at - 1] == 'a') --at;
  const size_t width = name.size() - at;
  if (width < 2 || width > 6) return std::nullopt;
  return Suffix{at, width, true, 0};
}

// The name of segment `value` (counted like the suffix), or "" beyond the suffix's width.
std::string SegmentName(const std::string& first, const Suffix& suffix, uint64_t value) {
  std::string text(suffix.width, suffix.letters ? 'a' : '0');
  const uint64_t base = suffix.letters ? 26 : 10;
  for (size_t i = suffix.width; i-- > 0;) {
    text[i] = static_cast<char>(text[i] + value % base);
    value /= base;
  }
  if (value != 0) return "";
  return first.substr(0, suffix.at) + text;
}

// Segments are image files: a device such as /dev/sdaa beside /dev/sdab is a disk of its own.
bool Exists(const std::string& path) {
  struct stat info {};
  return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::vector<std::string> NamesFrom(const std::string& first, const Suffix& suffix) {
  std::vector<std::string> names{first};
  for (uint64_t value = suffix.value + 1;; ++value) {
    std::string name = SegmentName(first, suffix, value);
    if (!Exists(name)) break;
    names.push_back(std::move(name));
  }
  // The segment after the last one found is missing; a later one would show it was lost.
  const uint64_t next = suffix.value + names.size();
  for (uint64_t later = next + 1; later <= next + 3; ++later) {
    if (Exists(SegmentName(first, suffix, later))) {
      names.push_back(SegmentName(first, suffix, next));
      break;
    }
  }
  return names;
}

std::string Why(const std::string& path, int error) {
  return "segment " + path + " of the split image cannot be read (" + std::strerror(error) + ")";
}

}  // namespace

std::vector<std::string> SplitSegmentNames(const std::string& first) {
  std::optional<Suffix> suffix = DigitSuffix(first);
  if (!suffix) suffix = LetterSuffix(first);
  if (!suffix || !Exists(first)) return {};
  std::vector<std::string> names = NamesFrom(first, *suffix);
  if (names.size() < 2) return {};
  return names;
}

std::unique_ptr<SplitImageSource> SplitImageSource::Open(const std::vector<std::string>& segments,
                                                         std::string* error) {
  std::vector<Segment> parts;
  uint64_t offset = 0;
  for (size_t i = 0; i < segments.size(); ++i) {
    const std::string& path = segments[i];
    const int fd = OpenSourceFile(path);
    uint64_t bytes = 0;
    const bool sized = fd >= 0 && QueryFdSize(fd, &bytes);
    const int open_error = errno;
    if (fd >= 0) ::close(fd);
    if (!sized) {
      *error = open_error == ENOENT ? "segment " + path + " of the split image is missing"
                                    : Why(path, open_error);
      return nullptr;
    }
    const bool last = i + 1 == segments.size();
    if (i > 0 && (last ? bytes > parts[0].bytes : bytes != parts[0].bytes)) {
      *error = "segment " + path + " of the split image is " + std::to_string(bytes) +
               " bytes long where the first is " + std::to_string(parts[0].bytes) +
               " (a damaged or foreign segment)";
      return nullptr;
    }
    parts.push_back({path, offset, bytes, -1});
    offset += bytes;
  }
  return std::unique_ptr<SplitImageSource>(new SplitImageSource(std::move(parts)));
}

SplitImageSource::SplitImageSource(std::vector<Segment> segments) : segments_(std::move(segments)) {
  if (!segments_.empty()) size_ = segments_.back().first + segments_.back().bytes;
}

SplitImageSource::~SplitImageSource() {
  for (const Segment& segment : segments_) {
    if (segment.fd >= 0) ::close(segment.fd);
  }
}

int SplitImageSource::SegmentFd(size_t index) {
  Segment& segment = segments_[index];
  if (segment.fd >= 0) return segment.fd;
  if (open_order_.size() >= kMaxOpenSegments) {
    ::close(segments_[open_order_.front()].fd);
    segments_[open_order_.front()].fd = -1;
    open_order_.erase(open_order_.begin());
  }
  segment.fd = OpenSourceFile(segment.path);
  if (segment.fd >= 0) open_order_.push_back(index);
  return segment.fd;
}

int64_t SplitImageSource::ReadFromSegment(size_t index, uint64_t offset, char* out, size_t length) {
  const int fd = SegmentFd(index);
  if (fd < 0) return -1;
  size_t done = 0;
  while (done < length) {
    const ssize_t got = ::pread(fd, out + done, length - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  return static_cast<int64_t>(done);
}

int64_t SplitImageSource::ReadAt(uint64_t offset, void* buffer, size_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (offset >= size_) return 0;
  length = static_cast<size_t>(std::min<uint64_t>(length, size_ - offset));
  auto* out = static_cast<char*>(buffer);
  size_t done = 0;
  auto segment =
      std::upper_bound(segments_.begin(), segments_.end(), offset,
                       [](uint64_t at, const Segment& candidate) { return at < candidate.first; });
  size_t index = static_cast<size_t>(segment - segments_.begin()) - 1;
  while (done < length && index < segments_.size()) {
    const Segment& part = segments_[index];
    const uint64_t inner = offset + done - part.first;
    const size_t want = static_cast<size_t>(std::min<uint64_t>(length - done, part.bytes - inner));
    const int64_t got = ReadFromSegment(index, inner, out + done, want);
    if (got < 0) {
      last_error_ = errno ? errno : EIO;
      return done == 0 ? -1 : static_cast<int64_t>(done);
    }
    done += static_cast<size_t>(got);
    if (static_cast<size_t>(got) < want) break;  // the segment became shorter
    ++index;
  }
  return static_cast<int64_t>(done);
}

}  // namespace kestrel
