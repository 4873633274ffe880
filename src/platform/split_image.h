#pragma once
// A raw image cut into segment files ("disk.001", "disk.002", ... or "diskaa", "diskab", ...),
// read as one source from the name of its first segment.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/byte_source.h"

namespace kestrel {

// The segment names that follow `first` in order, `first` included, as far as they exist; empty
// when `first` is no first segment ("NAME.000"/"NAME.001" with a digit run of two or more, or a
// name ending in a run of two or more "a"s) or has no second segment. Segments are regular files.
std::vector<std::string> SplitSegmentNames(const std::string& first);

// The segments of a split image as one read-only source. At most a few segment files are open at
// a time (an image of thousands of segments would exhaust the descriptors).
class SplitImageSource : public ByteSource {
 public:
  // Checks the segments: every one readable, none missing before a later one, all but the last
  // of the first's size and the last no longer. Returns null and a message naming the segment
  // at fault when a check fails.
  static std::unique_ptr<SplitImageSource> Open(const std::vector<std::string>& segments,
                                                std::string* error);
  ~SplitImageSource() override;
  SplitImageSource(const SplitImageSource&) = delete;
  SplitImageSource& operator=(const SplitImageSource&) = delete;

  int64_t ReadAt(uint64_t offset, void* buffer, size_t length) override;
  uint64_t Size() const override { return size_; }
  int LastError() const override { return last_error_; }

 private:
  struct Segment {
    std::string path;
    uint64_t first = 0;  // offset of its first byte in the image
    uint64_t bytes = 0;
    int fd = -1;
  };
  explicit SplitImageSource(std::vector<Segment> segments);
  // The open descriptor of segment `index`, closing the longest-open one when too many are.
  int SegmentFd(size_t index);
  int64_t ReadFromSegment(size_t index, uint64_t offset, char* out, size_t length);

  std::vector<Segment> segments_;
  std::vector<size_t> open_order_;  // indexes of the open segments, oldest first
  uint64_t size_ = 0;
  std::atomic<int> last_error_{0};
  std::mutex mutex_;
};

}  // namespace kestrel
