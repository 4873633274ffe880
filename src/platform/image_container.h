#pragma once
// Opening an image file as a source whatever holds the disk: the plain file, a split raw image
// named by its first segment, or an EWF evidence image. Every kind reads through ByteSource.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/byte_source.h"

namespace kestrel {

enum class ImageContainer { kPlain, kSplit, kEwf };

// What holds the disk named by `path` (a block device is kPlain).
ImageContainer ContainerOf(const std::string& path);

// "raw", "split raw" or "EWF".
const char* ContainerName(ImageContainer container);

struct OpenedImage {
  std::unique_ptr<ByteSource> bytes;  // null when it cannot be read
  ImageContainer container = ImageContainer::kPlain;
  int error = 0;        // errno of a plain file that cannot be opened
  std::string message;  // why a split or EWF image cannot be read ("" for a plain file)
};

// Opens the `length` bytes at `base` of the disk in `path` (length 0: to the end) read-only.
OpenedImage OpenImage(const std::string& path, uint64_t base = 0, uint64_t length = 0);

}  // namespace kestrel
