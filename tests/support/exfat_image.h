#pragma once
// exFAT test volumes made at test time: mkfs.exfat formats an image file, which is attached to
// a loop device and mounted with exfat-fuse so that files are written, put in folders and
// deleted by a real exFAT driver. The volume is unmounted and detached before its bytes are
// read, and always when the image goes away.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kestrel::testing {

// A shell command making an exFAT volume at $IMG whose two boot regions both give a sector
// size of 128 bytes: a volume named exFAT without a geometry to read.
inline constexpr const char* kBrokenExfat =
    "truncate -s 8M $IMG && mkfs.exfat $IMG >/dev/null && for at in 108 6252; do "
    "printf '\\007' | dd of=$IMG bs=1 seek=$at conv=notrunc 2>/dev/null; done";

class ExfatImage {
 public:
  // Formats `image_path` (`mib` MiB, clusters of `cluster_bytes`, 0 for mkfs.exfat's choice) and
  // mounts it at `mount_point`. Null, with the reason in `why`, when a tool is missing, the
  // test is not root or no loop device can be had.
  static std::unique_ptr<ExfatImage> Create(const std::string& image_path,
                                            const std::string& mount_point, uint64_t mib,
                                            uint32_t cluster_bytes, std::string* why);
  ~ExfatImage();
  ExfatImage(const ExfatImage&) = delete;
  ExfatImage& operator=(const ExfatImage&) = delete;

  const std::string& path() const { return image_path_; }
  // `path` inside the volume ("/A/b.jpg") on the mounted volume.
  std::string Mounted(const std::string& path) const;

  // Paths are absolute inside the volume; each call returns success.
  bool WriteFile(const std::string& path, const std::vector<uint8_t>& content);
  bool MakeFolder(const std::string& path);
  bool Delete(const std::string& path);  // a file, or a folder with everything in it

  // The image's bytes as they are now (unmounted for the read, mounted again after).
  std::vector<uint8_t> Snapshot();
  // Unmounts and detaches; the image file then holds everything written.
  bool Unmount();

 private:
  ExfatImage(std::string image, std::string mount_point)
      : image_path_(std::move(image)), mount_point_(std::move(mount_point)) {}
  bool Mount(std::string* why);

  std::string image_path_;
  std::string mount_point_;
  std::string loop_;  // the loop device while mounted
};

}  // namespace kestrel::testing
