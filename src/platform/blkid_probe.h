#pragma once
// What libblkid finds on a device or image: the file system of a volume (with its label) and
// the partitions of a disk. Probing reads only; nothing is written.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrel {

struct FileSystemInfo {
  bool found = false;   // a file system (of any kind) was recognised
  std::string label;    // "" when none
  std::string fs_name;  // "FAT12", "FAT16", "FAT32", "NTFS", "exFAT", or "" for anything else
};

// Probes the `size` bytes at `offset` of the open file `fd` (size 0: to the end).
FileSystemInfo ProbeFileSystem(int fd, uint64_t offset, uint64_t size);

struct PartitionSlice {
  int number = 0;
  uint64_t offset = 0;  // bytes from the start of the disk
  uint64_t bytes = 0;
};

// The partitions of an MBR or GPT partition table on the open file `fd`, by position in the
// table; extended-partition containers are left out, their logical partitions kept. Nothing
// when no partition table is found.
std::optional<std::vector<PartitionSlice>> ProbePartitions(int fd);

// FAT12, FAT16 or FAT32 by the cluster count of a FAT boot sector's parameter block, "" when
// the parameters are not those of a FAT volume.
std::string FatVersionFromBootSector(const std::array<uint8_t, 512>& sector);

}  // namespace kestrel
