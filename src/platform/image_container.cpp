#include "platform/image_container.h"

#include <sys/stat.h>

#include <algorithm>

#include "platform/ewf_image.h"
#include "platform/split_image.h"

namespace kestrel {
namespace {

// The bytes [base, base + size) of a container's disk: a partition inside it.
class SliceSource : public ByteSource {
 public:
  SliceSource(std::unique_ptr<ByteSource> inner, uint64_t base, uint64_t size)
      : inner_(std::move(inner)), base_(base), size_(size) {}
  int64_t ReadAt(uint64_t offset, void* buffer, size_t length) override {
    if (offset >= size_) return 0;
    length = static_cast<size_t>(std::min<uint64_t>(length, size_ - offset));
    return inner_->ReadAt(base_ + offset, buffer, length);
  }
  uint64_t Size() const override { return size_; }
  int LastError() const override { return inner_->LastError(); }

 private:
  std::unique_ptr<ByteSource> inner_;
  uint64_t base_;
  uint64_t size_;
};

std::unique_ptr<ByteSource> Slice(std::unique_ptr<ByteSource> whole, uint64_t base,
                                  uint64_t length) {
  if (base == 0 && length == 0) return whole;
  const uint64_t total = whole->Size();
  uint64_t size = base >= total ? 0 : total - base;
  if (length != 0) size = std::min(size, length);
  return std::make_unique<SliceSource>(std::move(whole), base, size);
}

}  // namespace

ImageContainer ContainerOf(const std::string& path) {
  // Only an image file is a container; a device is read as the disk it is.
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return ImageContainer::kPlain;
  if (HasEwfSignature(path)) return ImageContainer::kEwf;
  if (!SplitSegmentNames(path).empty()) return ImageContainer::kSplit;
  return ImageContainer::kPlain;
}

const char* ContainerName(ImageContainer container) {
  switch (container) {
    case ImageContainer::kSplit:
      return "split raw";
    case ImageContainer::kEwf:
      return "EWF";
    case ImageContainer::kPlain:
      break;
  }
  return "raw";
}

OpenedImage OpenImage(const std::string& path, uint64_t base, uint64_t length) {
  OpenedImage image;
  image.container = ContainerOf(path);
  std::unique_ptr<ByteSource> whole;
  switch (image.container) {
    case ImageContainer::kEwf:
      whole = OpenEwfImage(path, &image.message);
      break;
    case ImageContainer::kSplit:
      whole = SplitImageSource::Open(SplitSegmentNames(path), &image.message);
      break;
    case ImageContainer::kPlain:
      image.bytes = FileByteSource::Open(path, &image.error, base, length);
      return image;
  }
  if (whole) image.bytes = Slice(std::move(whole), base, length);
  return image;
}

}  // namespace kestrel
