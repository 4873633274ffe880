// Same-drive tests: whether a recovery folder lies on the device a run reads, so that no file
// is ever written to the source. Device numbers are compared, not names.

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <set>

#include "platform/block_devices.h"
#include "platform/mount_info.h"
#include "sources/drive_enumeration.h"

namespace kestrel {
namespace {

constexpr const char* kSysDir = "/sys";

std::optional<dev_t> BlockDeviceNumber(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return std::nullopt;
  return st.st_rdev;
}

// Every block device the folder's file system is built on: the file system's own device
// number, the device its mount names, and what those lie on (disk of a partition, devices
// under a mapper or RAID device).
std::set<dev_t> DevicesUnderFolder(const std::string& folder) {
  std::set<dev_t> bases;
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) return {};
  bases.insert(st.st_dev);
  std::error_code ec;
  std::string real_path = std::filesystem::canonical(folder, ec).string();
  if (!ec) {
    if (std::optional<MountEntry> mount = FindMountHolding(ReadMountInfo(), real_path)) {
      bases.insert(mount->device);
      if (std::optional<dev_t> source = BlockDeviceNumber(mount->source)) bases.insert(*source);
    }
  }
  std::set<dev_t> all;
  for (dev_t base : bases) {
    for (dev_t dev : UnderlyingBlockDevices(kSysDir, base)) all.insert(dev);
  }
  return all;
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  return std::filesystem::equivalent(a, b, ec);
}

}  // namespace

bool FolderIsOnDevicePath(const std::string& folder, const std::string& device_path) {
  std::set<dev_t> under_folder = DevicesUnderFolder(folder);
  if (std::optional<dev_t> device = BlockDeviceNumber(device_path)) {
    return under_folder.contains(*device);
  }
  // An image file: the folder lies on it only when its file system is mounted from the image
  // through a loop device.
  return std::any_of(under_folder.begin(), under_folder.end(), [&](dev_t dev) {
    std::string backing = LoopBackingFile(kSysDir, dev);
    return !backing.empty() && SameFile(backing, device_path);
  });
}

bool FolderIsOnVolume(const std::string& folder, const VolumeEntry& volume) {
  return FolderIsOnDevicePath(folder, volume.device);
}

bool FolderIsOnDisk(const std::string& folder, const PhysicalDiskEntry& disk,
                    const DeviceMap& map) {
  if (FolderIsOnDevicePath(folder, disk.device)) return true;
  return std::any_of(map.volumes.begin(), map.volumes.end(), [&](const VolumeEntry& volume) {
    return volume.disk_ordinal == disk.ordinal && FolderIsOnVolume(folder, volume);
  });
}

}  // namespace kestrel
