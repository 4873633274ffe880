#pragma once
// NTFS test volumes made at test time: mkntfs formats an image file, the ntfs_tool helper
// (libntfs-3g) writes, fragments, streams and deletes files in it without mounting it.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Tests that read these images hold them in a MemorySource.
#include "platform/testing/source_doubles.h"

// The helper's path, set by the build where libntfs-3g is installed; empty (tests skip) without.
#ifndef KESTREL_NTFS_TOOL_PATH
#define KESTREL_NTFS_TOOL_PATH ""
#endif

namespace kestrel::testing {

// Deterministic pseudo-random content.
std::vector<uint8_t> PatternBytes(size_t length, uint32_t seed);

class NtfsImage {
 public:
  // Formats `image_path` as an NTFS volume of `megabytes` (512-byte sectors, 4 KiB clusters).
  // Null, with the reason in `why`, when mkntfs or the helper is missing or fails.
  static std::optional<NtfsImage> Create(const std::string& tool_path,
                                         const std::string& image_path, uint64_t megabytes,
                                         std::string* why);

  const std::string& path() const { return image_path_; }

  // Paths are absolute inside the volume ("/dir/name.ext"), UTF-8; each call returns success.
  bool WriteFile(const std::string& path, const std::vector<uint8_t>& content);
  // Creates both files, writing them alternately `chunk` bytes at a time (fragmenting both).
  bool WriteInterleaved(const std::string& path_a, const std::vector<uint8_t>& content_a,
                        const std::string& path_b, const std::vector<uint8_t>& content_b,
                        uint64_t chunk);
  bool AddStream(const std::string& path, const std::string& stream,
                 const std::vector<uint8_t>& content);
  // Creates a file whose content starts at `offset`; the bytes before it are a hole.
  bool WriteSparse(const std::string& path, const std::vector<uint8_t>& content, uint64_t offset);
  bool MakeFolder(const std::string& path);
  // A folder whose new files are written compressed (LZNT1).
  bool MakeCompressedFolder(const std::string& path);
  bool Delete(const std::string& path);
  // Sets the modification and access times of $STANDARD_INFORMATION (seconds since 1970, UTC).
  bool SetTimes(const std::string& path, int64_t modified, int64_t accessed);

 private:
  NtfsImage(std::string tool, std::string image, std::string scratch)
      : tool_(std::move(tool)), image_path_(std::move(image)), scratch_(std::move(scratch)) {}
  bool Run(const std::string& arguments);
  std::string Stage(const std::vector<uint8_t>& content, int slot);

  std::string tool_;
  std::string image_path_;
  std::string scratch_;  // host files handed to the helper
};

// The shell-quoted form of `text`.
std::string ShellQuote(const std::string& text);

}  // namespace kestrel::testing
