#pragma once
// The volumes and disks Kestrel can recover from, with their letters (the device map), and the
// opening of one of them as a read-only ScanSource for a run.

#include <cstdint>
#include <string>
#include <vector>

#include "disk/scan_source.h"

namespace kestrel {

struct VolumeEntry {
  char letter = 0;            // 'C'..'Z'
  std::string label;          // volume label ("" when none)
  std::string fs_name;        // "FAT12", "FAT16", "FAT32", "NTFS", "exFAT", or ""
  uint64_t bytes = 0;         // size of the volume
  std::string device;         // device node or image file that holds it
  uint64_t offset = 0;        // byte offset of the volume inside `device` (partition of an image)
  bool removable = false;
  int disk_ordinal = -1;      // ordinal of the disk it lies on, -1 when none
};

struct PhysicalDiskEntry {
  int ordinal = 0;            // position in the disk list: 0, 1, ...
  std::string model;          // model text (an image disk's model is its file name)
  uint64_t sector_count = 0;  // size / 512
  std::string volume_letters; // letters of the volumes on this disk, alphabetical ("EF")
  std::string device;         // device node or image file
};

struct DeviceMap {
  std::vector<VolumeEntry> volumes;  // in letter order
  std::vector<PhysicalDiskEntry> disks;
  std::vector<std::string> warnings; // bad map lines, missing files, letters beyond Z

  const VolumeEntry* FindVolume(char letter) const;
  const PhysicalDiskEntry* FindDisk(int ordinal) const;
};

// Real block devices (unless KESTREL_NO_DEVICES=1) and the images of the device map
// ($KESTREL_DEVICES, else devices.conf beside the settings store).
DeviceMap EnumerateDevices();

// Open a source for a run. Return 0, or the id of the message that ends the run: 57519 when it
// cannot be opened or sector 0 cannot be read, 1090 when it has no size.
int OpenVolumeSource(const VolumeEntry& volume, ScanSource* source);
int OpenDiskSource(const PhysicalDiskEntry& disk, ScanSource* source);
// A device node or image file named by path, as a volume or as a whole disk.
int OpenPathSource(const std::string& path, SourceKind kind, ScanSource* source);

// Same-drive tests: whether `folder` (which exists) lies on the file system of the volume, or of
// any volume of the disk. Device numbers are compared, not names; an image's volume is the
// image file itself, so a folder can never lie on it.
bool FolderIsOnVolume(const std::string& folder, const VolumeEntry& volume);
bool FolderIsOnDisk(const std::string& folder, const PhysicalDiskEntry& disk, const DeviceMap& map);
// The same test for a source given by path (device node or image).
bool FolderIsOnDevicePath(const std::string& folder, const std::string& device_path);

}  // namespace kestrel
