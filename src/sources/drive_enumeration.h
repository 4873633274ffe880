#pragma once
// The volumes and disks Kestrel can recover from, with their letters (the device map), and the
// opening of one of them as a read-only ScanSource for a run.

#include <cstdint>
#include <string>
#include <vector>

#include "sources/scan_source.h"

namespace kestrel {

struct VolumeEntry {
  char letter = 0;      // 'C'..'Z'; 'A' and 'B' only when the device map gives them
  std::string label;    // volume label ("" when none)
  std::string fs_name;  // "FAT12", "FAT16", "FAT32", "NTFS", "exFAT", or ""
  uint64_t bytes = 0;   // size of the volume
  std::string device;   // device node or image file that holds it
  uint64_t offset = 0;  // byte offset of the volume inside `device` (a partition read through
                        // its disk image, or through a disk node without partition devices)
  bool removable = false;
  int disk_ordinal = -1;  // ordinal of the disk it lies on, -1 when none
  bool in_image = false;  // `device` is an image file of the device map, not a block device
};

struct PhysicalDiskEntry {
  int ordinal = 0;             // position in the disk list: 0, 1, ...
  std::string model;           // model text (an image disk's model is its file name)
  uint64_t sector_count = 0;   // size / 512
  std::string volume_letters;  // letters of the volumes on this disk, alphabetical ("EF")
  std::string device;          // device node or image file
};

struct DeviceMap {
  std::vector<VolumeEntry> volumes;  // in letter order
  std::vector<PhysicalDiskEntry> disks;
  std::vector<std::string> warnings;          // bad map lines, missing files, letters beyond Z
  std::vector<std::string> unreadable_disks;  // disks of the machine that do not open for reading

  const VolumeEntry* FindVolume(char letter) const;
  const PhysicalDiskEntry* FindDisk(int ordinal) const;
};

// Where the devices come from.
struct DeviceMapOptions {
  bool block_devices = true;  // list the machine's block devices
  std::string sys_block_dir = "/sys/block";
  std::string dev_dir = "/dev";
  std::string map_path;            // device map file; "" for none
  bool map_path_explicit = false;  // warn when the map file is missing
};

// Real block devices (unless KESTREL_NO_DEVICES is set to anything but "" or "0") and the
// images of the device map ($KESTREL_DEVICES, else devices.conf beside the settings store).
DeviceMapOptions DeviceMapOptionsFromEnvironment();
DeviceMap EnumerateDevices();
// The map for explicit options. Letters: the map's explicit letters first; then C, D, E, ...
// (never A or B, skipping taken letters) for the volumes of the real disks in order, then for
// those of the disk images in map order; volumes beyond Z are reported and left out.
DeviceMap BuildDeviceMap(const DeviceMapOptions& options);

// The map's two lists as the source selection reads them: the letters of the volumes that can
// be opened ("CDEF"), the disks in ordinal order, and the letters of the volumes on one disk
// (false when there is no disk of that ordinal).
std::string EnumerateVolumes(const DeviceMap& map);
const std::vector<PhysicalDiskEntry>& EnumeratePhysicalDisks(const DeviceMap& map);
bool FindVolumesOnDisk(const DeviceMap& map, int ordinal, std::string* letters);

// Open a source for a run. Return 0, or the id of the message that ends the run: 57519 when it
// cannot be opened or sector 0 cannot be read, 1090 when it has no size.
int OpenVolumeSource(const VolumeEntry& volume, ScanSource* source);
int OpenDiskSource(const PhysicalDiskEntry& disk, ScanSource* source);
// A device node or image file named by path, as a volume or as a whole disk.
int OpenPathSource(const std::string& path, SourceKind kind, ScanSource* source);

// Same-drive tests: whether `folder` (which exists) lies on the file system of the volume, or of
// any volume of the disk. Device numbers are compared, not names: the folder's file system, the
// device its mount names (mountinfo) and the devices that one lies on (the disk of a partition,
// the devices under a mapper) against the source's device node. An image file holds no folder
// unless a file system in it is mounted through a loop device backed by that image.
bool FolderIsOnVolume(const std::string& folder, const VolumeEntry& volume);
bool FolderIsOnDisk(const std::string& folder, const PhysicalDiskEntry& disk, const DeviceMap& map);
// The same test for a source given by path (device node or image).
bool FolderIsOnDevicePath(const std::string& folder, const std::string& device_path);

}  // namespace kestrel
