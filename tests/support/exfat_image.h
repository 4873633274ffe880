#pragma once
// exFAT test volumes made at test time: mkfs.exfat formats an image file, which is attached to
// a loop device and mounted with exfat-fuse so that files are written, put in folders and
// deleted by a real exFAT driver. The volume is unmounted and detached before its bytes are
// read, and always when the image goes away.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fs/exfat/exfat_boot.h"
#include "fs/exfat/exfat_entry_set.h"

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

// A volume formatted by mkfs.exfat, held in memory, into whose root folder entry sets are
// written directly: files deleted as a driver leaves them, and the damaged structures a driver
// never writes.
class PlantedExfat {
 public:
  // Formats `mib` MiB with clusters of `cluster_bytes` in a file below `dir`; null with the
  // reason when mkfs.exfat is missing or fails.
  static std::optional<PlantedExfat> Format(const std::string& dir, uint64_t mib,
                                            uint32_t cluster_bytes, std::string* why);

  std::vector<uint8_t>& bytes() { return bytes_; }
  const ExfatGeometry& geometry() const { return geometry_; }
  uint64_t ClusterOffset(uint32_t cluster) const { return geometry_.ClusterOffset(cluster); }
  // The byte offset of entry `slot` of the root folder's first cluster.
  uint64_t RootEntry(size_t slot) const;
  // The first root entry of `type` (0x81 allocation bitmap, 0x82 up-case table).
  uint64_t FindRootEntry(uint8_t type) const;
  // The first root slot after the entries mkfs.exfat wrote.
  size_t FreeRootSlot() const;

  void SetFat(uint32_t cluster, uint32_t value);
  void SetInUse(uint32_t cluster, bool in_use);
  void WriteClusters(uint32_t first, const std::vector<uint8_t>& content);

  struct SetSpec {
    SetSpec(std::string name_, uint32_t first, uint64_t length,
            std::optional<uint64_t> valid = std::nullopt, bool contiguous = true,
            bool is_deleted = true, bool is_directory = false)
        : name(std::move(name_)),
          first_cluster(first),
          data_length(length),
          valid_length(valid),
          no_fat_chain(contiguous),
          deleted(is_deleted),
          directory(is_directory) {}
    std::string name;  // ASCII
    uint32_t first_cluster;
    uint64_t data_length;
    std::optional<uint64_t> valid_length;  // the data length when not given
    bool no_fat_chain;
    bool deleted;
    bool directory;
  };
  // The entries of a set with its checksum.
  static std::vector<ExfatRawEntry> MakeSet(const SetSpec& spec);
  // Writes the set at root slot `slot`; the slot after it.
  size_t PutSet(size_t slot, const SetSpec& spec);
  // Writes the set's entries at byte offset `at`, in any folder; their count.
  size_t PutSetAt(uint64_t at, const SetSpec& spec);

 private:
  std::vector<uint8_t> bytes_;
  ExfatGeometry geometry_;
};

}  // namespace kestrel::testing
