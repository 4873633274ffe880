#include "support/ntfs_image.h"

#include <unistd.h>

#include <random>

#include "support/temp_dir.h"

namespace kestrel::testing {

std::vector<uint8_t> PatternBytes(size_t length, uint32_t seed) {
  std::mt19937 generator(seed);
  std::vector<uint8_t> bytes(length);
  for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(generator() >> 24);
  return bytes;
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

std::optional<NtfsImage> NtfsImage::Create(const std::string& tool_path,
                                           const std::string& image_path, uint64_t megabytes,
                                           std::string* why) {
  if (tool_path.empty() || ::access(tool_path.c_str(), X_OK) != 0) {
    *why = "the ntfs_tool helper was not built (libntfs-3g development files missing)";
    return std::nullopt;
  }
  std::string mkntfs = HaveTool("mkntfs") ? "mkntfs" : "/sbin/mkntfs";
  if (mkntfs != "mkntfs" && ::access(mkntfs.c_str(), X_OK) != 0) {
    *why = "mkntfs is not installed (package ntfs-3g)";
    return std::nullopt;
  }
  std::string output;
  std::string command = "truncate -s " + std::to_string(megabytes) + "M " + ShellQuote(image_path) +
                        " && " + mkntfs + " -F -Q -s 512 -c 4096 " + ShellQuote(image_path);
  if (RunCommand(command, &output) != 0) {
    *why = "mkntfs failed: " + output;
    return std::nullopt;
  }
  return NtfsImage(tool_path, image_path, image_path + ".staged");
}

std::string NtfsImage::Stage(const std::vector<uint8_t>& content, int slot) {
  std::string path = scratch_ + std::to_string(slot);
  WriteFileBytes(path, content);
  return path;
}

bool NtfsImage::Run(const std::string& arguments) {
  return RunCommand(ShellQuote(tool_) + " " + ShellQuote(image_path_) + " " + arguments) == 0;
}

bool NtfsImage::WriteFile(const std::string& path, const std::vector<uint8_t>& content) {
  return Run("write " + ShellQuote(path) + " " + ShellQuote(Stage(content, 0)));
}

bool NtfsImage::WriteInterleaved(const std::string& path_a, const std::vector<uint8_t>& content_a,
                                 const std::string& path_b, const std::vector<uint8_t>& content_b,
                                 uint64_t chunk) {
  return Run("interleave " + ShellQuote(path_a) + " " + ShellQuote(Stage(content_a, 0)) + " " +
             ShellQuote(path_b) + " " + ShellQuote(Stage(content_b, 1)) + " " +
             std::to_string(chunk));
}

bool NtfsImage::AddStream(const std::string& path, const std::string& stream,
                          const std::vector<uint8_t>& content) {
  return Run("stream " + ShellQuote(path) + " " + ShellQuote(stream) + " " +
             ShellQuote(Stage(content, 0)));
}

bool NtfsImage::WriteSparse(const std::string& path, const std::vector<uint8_t>& content,
                            uint64_t offset) {
  return Run("sparse " + ShellQuote(path) + " " + ShellQuote(Stage(content, 0)) + " " +
             std::to_string(offset));
}

bool NtfsImage::MakeCompressedFolder(const std::string& path) {
  return Run("mkcdir " + ShellQuote(path));
}

bool NtfsImage::MakeFolder(const std::string& path) {
  return Run("mkdir " + ShellQuote(path));
}

bool NtfsImage::Delete(const std::string& path) {
  return Run("delete " + ShellQuote(path));
}

bool NtfsImage::SetTimes(const std::string& path, int64_t modified, int64_t accessed) {
  return Run("times " + ShellQuote(path) + " " + std::to_string(modified) + " " +
             std::to_string(accessed));
}

}  // namespace kestrel::testing
