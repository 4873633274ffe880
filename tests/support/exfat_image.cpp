#include "support/exfat_image.h"

#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "support/temp_dir.h"

namespace kestrel::testing {
namespace {

std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

}  // namespace

std::unique_ptr<ExfatImage> ExfatImage::Create(const std::string& image_path,
                                               const std::string& mount_point, uint64_t mib,
                                               uint32_t cluster_bytes, std::string* why) {
  if (!HaveTool("mkfs.exfat") || !HaveTool("mount.exfat-fuse") || !HaveTool("losetup")) {
    *why = "mkfs.exfat, mount.exfat-fuse (exfat-fuse) or losetup is not installed";
    return nullptr;
  }
  if (geteuid() != 0) {
    *why = "mounting an exFAT image through a loop device needs root";
    return nullptr;
  }
  std::string command =
      "truncate -s " + std::to_string(mib) + "M " + Quoted(image_path) + " && mkfs.exfat ";
  if (cluster_bytes != 0) command += "-c " + std::to_string(cluster_bytes) + " ";
  std::string output;
  if (RunCommand(command + Quoted(image_path) + " >/dev/null", &output) != 0) {
    *why = "mkfs.exfat failed: " + output;
    return nullptr;
  }
  std::error_code ec;
  std::filesystem::create_directories(mount_point, ec);
  std::unique_ptr<ExfatImage> image(new ExfatImage(image_path, mount_point));
  if (!image->Mount(why)) return nullptr;
  return image;
}

ExfatImage::~ExfatImage() {
  Unmount();
}

bool ExfatImage::Mount(std::string* why) {
  std::string output;
  if (RunCommand("losetup --find --show " + Quoted(image_path_), &output) != 0) {
    *why = "no loop device: " + output;
    return false;
  }
  loop_ = Trimmed(output);
  if (RunCommand("mount.exfat-fuse " + loop_ + " " + Quoted(mount_point_), &output) != 0) {
    *why = "mount.exfat-fuse failed: " + output;
    RunCommand("losetup -d " + loop_);
    loop_.clear();
    return false;
  }
  return true;
}

bool ExfatImage::Unmount() {
  if (loop_.empty()) return true;
  const bool unmounted = RunCommand("sync && umount " + Quoted(mount_point_)) == 0;
  const bool detached = RunCommand("losetup -d " + loop_) == 0;
  loop_.clear();
  return unmounted && detached;
}

std::string ExfatImage::Mounted(const std::string& path) const {
  return mount_point_ + path;
}

bool ExfatImage::WriteFile(const std::string& path, const std::vector<uint8_t>& content) {
  WriteFileBytes(Mounted(path), content);
  std::error_code ec;
  return std::filesystem::file_size(Mounted(path), ec) == content.size() && !ec;
}

bool ExfatImage::MakeFolder(const std::string& path) {
  std::error_code ec;
  return std::filesystem::create_directories(Mounted(path), ec) && !ec;
}

bool ExfatImage::Delete(const std::string& path) {
  std::error_code ec;
  return std::filesystem::remove_all(Mounted(path), ec) > 0 && !ec;
}

std::vector<uint8_t> ExfatImage::Snapshot() {
  if (!Unmount()) return {};
  std::vector<uint8_t> bytes = ReadFileBytes(image_path_);
  std::string why;
  if (!Mount(&why)) return {};
  return bytes;
}

}  // namespace kestrel::testing
