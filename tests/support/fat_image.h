#pragma once
// FAT test volumes made at test time: mkfs.fat formats an image file, mtools writes, makes
// folders in and deletes from it without mounting it.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Tests that read these images hold them in a MemorySource.
#include "platform/testing/source_doubles.h"

namespace kestrel::testing {

// Deterministic pseudo-random content for FAT test files.
std::vector<uint8_t> FatTestBytes(size_t length, uint32_t seed);

// Whether mkfs.fat and mtools are installed (tests skip with a message when not).
bool HaveFatTools();

class FatImage {
 public:
  // Formats `image_path` with mkfs.fat: `fat_bits` 12, 16 or 32, `kib` KiB, and the sectors per
  // cluster (0: mkfs.fat's choice). Null, with the reason in `why`, when formatting fails.
  static std::optional<FatImage> Create(const std::string& image_path, int fat_bits, uint64_t kib,
                                        int sectors_per_cluster, std::string* why);

  const std::string& path() const { return image_path_; }

  // Paths are absolute inside the volume ("/DCIM/name.jpg"); each call returns success.
  // With `modified` (seconds since 1970, UTC), the file's FAT entry gets that write time.
  bool WriteFile(const std::string& path, const std::vector<uint8_t>& content,
                 std::optional<int64_t> modified = std::nullopt);
  bool MakeFolder(const std::string& path);
  bool Delete(const std::string& path);      // mdel
  bool DeleteTree(const std::string& path);  // mdeltree
  // Sets DOS attributes with mattrib, e.g. "+r +h".
  bool SetAttributes(const std::string& path, const std::string& flags);
  // Rewrites the long name `written` (ASCII, one long-name entry: up to 13 characters), live or
  // deleted, as `wanted` of the same length: the names mtools will not write ("...", " ")
  // made from ones it will. Its checksum still ties it to its short entry.
  bool RenameLongName(const std::string& written, const std::string& wanted);

 private:
  explicit FatImage(std::string image) : image_path_(std::move(image)) {}
  bool Mtools(const std::string& command, const std::string& arguments);

  std::string image_path_;
};

}  // namespace kestrel::testing
