#include "sources/drive_enumeration.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>

#include "platform/blkid_probe.h"
#include "platform/block_devices.h"
#include "platform/byte_source.h"
#include "platform/device_map_file.h"
#include "platform/image_container.h"
#include "sources/probe_copy.h"

namespace kestrel {
namespace {

// A read-only file descriptor closed on scope exit.
class ReadOnlyFile {
 public:
  explicit ReadOnlyFile(const std::string& path) : fd_(OpenSourceFile(path)) {}
  ~ReadOnlyFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

std::string ErrorText(int error) {
  return error == ENODEV ? "not an image file or block device" : std::strerror(error);
}

// An image file of the device map opened for the probes: the file itself, or a copy of what the
// probes read from the disk inside a split or EWF image.
class ProbedImage {
 public:
  explicit ProbedImage(const std::string& path) : image_(OpenImage(path)) {
    if (image_.bytes && image_.container != ImageContainer::kPlain) copy_.emplace(*image_.bytes);
  }
  int fd() const {
    if (copy_) return copy_->fd();
    return static_cast<const FileByteSource&>(*image_.bytes).fd();
  }
  std::optional<uint64_t> Size() const {
    if (!image_.bytes || (copy_ && copy_->fd() < 0)) return std::nullopt;
    return image_.bytes->Size();
  }
  std::string Why() const {
    if (!image_.message.empty()) return image_.message;
    return ErrorText(image_.bytes ? ENOMEM : image_.error);
  }

 private:
  OpenedImage image_;
  std::optional<ProbeCopy> copy_;
};

// A disk and its volumes, before the volumes get their letters.
struct PendingDisk {
  PhysicalDiskEntry entry;
  std::vector<VolumeEntry> volumes;       // in partition order
  std::vector<std::string> volume_names;  // how to name each volume in a warning
};

VolumeEntry ProbedVolume(int fd, const std::string& device, uint64_t offset, uint64_t bytes) {
  FileSystemInfo info = ProbeFileSystem(fd, offset, bytes);
  VolumeEntry volume;
  volume.label = info.label;
  volume.fs_name = info.fs_name;
  volume.bytes = bytes;
  volume.device = device;
  volume.offset = offset;
  return volume;
}

// The volumes found on the disk or disk image open as `fd` itself: the partitions of its
// partition table, or, without a table, the whole disk when it holds a file system (a
// "superfloppy" memory card).
void AddVolumesFromContents(int fd, const std::string& device, uint64_t size, PendingDisk* disk,
                            std::vector<std::string>* warnings, const std::string& where) {
  if (std::optional<std::vector<PartitionSlice>> slices = ProbePartitions(fd)) {
    for (const PartitionSlice& slice : *slices) {
      std::string name = device + " partition " + std::to_string(slice.number);
      if (slice.offset >= size) {
        warnings->push_back(where + name + " starts beyond the end of the disk; left out");
        continue;
      }
      uint64_t bytes = std::min(slice.bytes, size - slice.offset);
      disk->volumes.push_back(ProbedVolume(fd, device, slice.offset, bytes));
      disk->volume_names.push_back(name);
    }
  } else if (ProbeFileSystem(fd, 0, 0).found) {
    disk->volumes.push_back(ProbedVolume(fd, device, 0, size));
    disk->volume_names.push_back(device);
  }
}

PendingDisk RealDisk(const BlockDisk& disk, std::vector<std::string>* warnings) {
  PendingDisk pending;
  pending.entry.model = disk.model;
  pending.entry.sector_count = disk.sectors;
  pending.entry.device = disk.node;
  for (const BlockPartition& partition : disk.partitions) {
    ReadOnlyFile file(partition.node);
    if (file.fd() < 0) continue;
    pending.volumes.push_back(ProbedVolume(file.fd(), partition.node, 0, partition.sectors * 512));
    pending.volume_names.push_back(partition.node);
  }
  // No partition devices (a loop device attached without partition scanning): read the table.
  if (disk.partitions.empty()) {
    ReadOnlyFile file(disk.node);
    if (file.fd() >= 0) {
      AddVolumesFromContents(file.fd(), disk.node, disk.sectors * 512, &pending, warnings, "");
    }
  }
  for (VolumeEntry& volume : pending.volumes) volume.removable = disk.removable;
  return pending;
}

std::string Where(const DeviceMapEntry& entry, const std::string& map_path) {
  return map_path + ":" + std::to_string(entry.line) + ": ";
}

std::optional<PendingDisk> ImageDisk(const DeviceMapEntry& entry, const std::string& map_path,
                                     std::vector<std::string>* warnings) {
  ProbedImage file(entry.path);
  std::optional<uint64_t> size = file.Size();
  if (!size) {
    warnings->push_back(Where(entry, map_path) + "cannot open " + entry.path + " (" + file.Why() +
                        "); skipped");
    return std::nullopt;
  }
  PendingDisk pending;
  pending.entry.model = std::filesystem::path(entry.path).filename().string();
  pending.entry.sector_count = *size / 512;
  pending.entry.device = entry.path;
  AddVolumesFromContents(file.fd(), entry.path, *size, &pending, warnings, Where(entry, map_path));
  for (VolumeEntry& volume : pending.volumes) {
    volume.removable = entry.removable;
    volume.in_image = true;
  }
  return pending;
}

std::optional<VolumeEntry> ImageVolume(const DeviceMapEntry& entry, const std::string& map_path,
                                       std::vector<std::string>* warnings) {
  ProbedImage file(entry.path);
  std::optional<uint64_t> size = file.Size();
  if (!size) {
    warnings->push_back(Where(entry, map_path) + "cannot open " + entry.path + " (" + file.Why() +
                        "); " + entry.letter + ": skipped");
    return std::nullopt;
  }
  VolumeEntry volume = ProbedVolume(file.fd(), entry.path, 0, *size);
  volume.letter = entry.letter;
  volume.removable = entry.removable;
  volume.in_image = true;
  return volume;
}

// Gives the disks' volumes the free letters from C on, in order, and moves them into `map`.
void AssignLetters(std::vector<PendingDisk>& disks, std::array<bool, 26>& taken, DeviceMap* map) {
  char next = 'C';
  for (PendingDisk& disk : disks) {
    for (size_t i = 0; i < disk.volumes.size(); ++i) {
      while (next <= 'Z' && taken[next - 'A']) ++next;
      if (next > 'Z') {
        map->warnings.push_back("no drive letter left for " + disk.volume_names[i] + "; left out");
        continue;
      }
      taken[next - 'A'] = true;
      VolumeEntry volume = std::move(disk.volumes[i]);
      volume.letter = next;
      volume.disk_ordinal = disk.entry.ordinal;
      disk.entry.volume_letters += next;
      map->volumes.push_back(std::move(volume));
    }
    map->disks.push_back(std::move(disk.entry));
  }
}

bool EnvironmentFlag(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' && std::strcmp(value, "0") != 0;
}

}  // namespace

const VolumeEntry* DeviceMap::FindVolume(char letter) const {
  if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
  for (const VolumeEntry& volume : volumes) {
    if (volume.letter == letter) return &volume;
  }
  return nullptr;
}

const PhysicalDiskEntry* DeviceMap::FindDisk(int ordinal) const {
  for (const PhysicalDiskEntry& disk : disks) {
    if (disk.ordinal == ordinal) return &disk;
  }
  return nullptr;
}

DeviceMapOptions DeviceMapOptionsFromEnvironment() {
  DeviceMapOptions options;
  options.block_devices = !EnvironmentFlag("KESTREL_NO_DEVICES");
  options.map_path = DefaultDeviceMapPath(&options.map_path_explicit);
  return options;
}

std::string EnumerateVolumes(const DeviceMap& map) {
  std::string letters;
  for (const VolumeEntry& volume : map.volumes) letters += volume.letter;
  return letters;
}

const std::vector<PhysicalDiskEntry>& EnumeratePhysicalDisks(const DeviceMap& map) {
  return map.disks;
}

bool FindVolumesOnDisk(const DeviceMap& map, int ordinal, std::string* letters) {
  const PhysicalDiskEntry* disk = map.FindDisk(ordinal);
  if (disk == nullptr) return false;
  *letters = disk->volume_letters;
  return true;
}

DeviceMap EnumerateDevices() {
  return BuildDeviceMap(DeviceMapOptionsFromEnvironment());
}

DeviceMap BuildDeviceMap(const DeviceMapOptions& options) {
  DeviceMap map;
  DeviceMapFile file;
  if (!options.map_path.empty()) file = ReadDeviceMap(options.map_path, options.map_path_explicit);
  map.warnings = std::move(file.warnings);

  std::array<bool, 26> taken{};
  taken['A' - 'A'] = taken['B' - 'A'] = true;  // never given automatically
  std::vector<VolumeEntry> lettered;
  for (const DeviceMapEntry& entry : file.entries) {
    if (entry.kind != DeviceMapEntry::Kind::kVolume) continue;
    if (std::optional<VolumeEntry> volume = ImageVolume(entry, options.map_path, &map.warnings)) {
      taken[entry.letter - 'A'] = true;
      lettered.push_back(std::move(*volume));
    }
  }

  std::vector<PendingDisk> disks;
  if (options.block_devices) {
    for (const BlockDisk& disk :
         ListBlockDisks(options.sys_block_dir, options.dev_dir, &map.unreadable_disks)) {
      disks.push_back(RealDisk(disk, &map.warnings));
    }
  }
  for (const DeviceMapEntry& entry : file.entries) {
    if (entry.kind != DeviceMapEntry::Kind::kDisk) continue;
    if (std::optional<PendingDisk> disk = ImageDisk(entry, options.map_path, &map.warnings)) {
      disks.push_back(std::move(*disk));
    }
  }
  for (size_t i = 0; i < disks.size(); ++i) disks[i].entry.ordinal = static_cast<int>(i);

  AssignLetters(disks, taken, &map);
  for (VolumeEntry& volume : lettered) map.volumes.push_back(std::move(volume));
  std::sort(map.volumes.begin(), map.volumes.end(),
            [](const VolumeEntry& a, const VolumeEntry& b) { return a.letter < b.letter; });
  return map;
}

}  // namespace kestrel
