#include "app/image_attach.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <QTemporaryDir>

namespace kestrel {
namespace {

// The map line that names `path` as a whole-disk image (quoted, so any name is read whole).
std::string DiskLine(const std::string& path) {
  return "disk \"" + path + "\"\n";
}

// The map's warnings name the line of a temporary map file; the user knows the image by name.
std::string WithoutMapLine(const std::string& warning, const std::string& map_path) {
  if (warning.rfind(map_path, 0) != 0) return warning;
  const size_t text = warning.find(": ", map_path.size() + 1);
  return text == std::string::npos ? warning : warning.substr(text + 2);
}

void MoveDiskInto(DeviceMap* map, DeviceMap& single, const PhysicalDiskEntry& disk) {
  std::array<bool, 26> taken{};
  taken[0] = taken[1] = true;
  for (const VolumeEntry& volume : map->volumes) taken[volume.letter - 'A'] = true;
  PhysicalDiskEntry entry = disk;
  entry.ordinal = static_cast<int>(map->disks.size());
  entry.volume_letters.clear();
  char next = 'C';
  for (VolumeEntry& volume : single.volumes) {
    while (next <= 'Z' && taken[next - 'A']) ++next;
    if (next > 'Z') {
      map->warnings.push_back("no drive letter left for a volume of " + disk.device + "; left out");
      continue;
    }
    taken[next - 'A'] = true;
    volume.letter = next;
    volume.disk_ordinal = entry.ordinal;
    entry.volume_letters += next;
    map->volumes.push_back(volume);
  }
  map->disks.push_back(entry);
  std::sort(map->volumes.begin(), map->volumes.end(),
            [](const VolumeEntry& a, const VolumeEntry& b) { return a.letter < b.letter; });
}

}  // namespace

std::string ImageRefusal(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return path + ": " + std::strerror(errno);
  if (S_ISDIR(info.st_mode)) {
    return path + " is a folder; choose a disk image file or a device such as /dev/sdb";
  }
  if (!S_ISREG(info.st_mode) && !S_ISBLK(info.st_mode)) {
    return path + " is neither a disk image file nor a block device";
  }
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    std::string why = path + " cannot be read: " + std::strerror(error);
    if (error == EACCES && S_ISBLK(info.st_mode)) why += " (start Kestrel with disk access)";
    return why;
  }
  close(fd);
  if (S_ISREG(info.st_mode) && info.st_size < 512) return path + " is empty or too short";
  return {};
}

std::string AttachImage(DeviceMap* map, const std::string& path) {
  std::string refusal = ImageRefusal(path);
  if (!refusal.empty()) return refusal;
  const std::string absolute = std::filesystem::absolute(path).lexically_normal().string();
  for (const PhysicalDiskEntry& disk : map->disks) {
    if (disk.device == absolute) return absolute + " is attached already";
  }
  QTemporaryDir folder;
  if (!folder.isValid()) return "no temporary folder for reading " + absolute;
  const std::string map_path = folder.filePath(QStringLiteral("attach.conf")).toStdString();
  std::ofstream(map_path) << DiskLine(absolute);

  DeviceMapOptions options;
  options.block_devices = false;
  options.map_path = map_path;
  options.map_path_explicit = true;
  DeviceMap single = BuildDeviceMap(options);
  for (const std::string& warning : single.warnings) {
    map->warnings.push_back(WithoutMapLine(warning, map_path));
  }
  if (single.disks.empty()) return absolute + " could not be read as a disk";
  MoveDiskInto(map, single, single.disks.front());
  return {};
}

bool MapHasSource(const DeviceMap& map) {
  if (!map.volumes.empty()) return true;
  std::error_code error;
  return std::any_of(map.disks.begin(), map.disks.end(), [&](const PhysicalDiskEntry& disk) {
    return std::filesystem::is_regular_file(disk.device, error);
  });
}

}  // namespace kestrel
