#pragma once
// The machine's block devices as sysfs describes them: the whole disks a user may recover
// from with their partitions, and the devices a file system is built on (for same-drive tests).

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel {

struct BlockPartition {
  int number = 0;
  std::string node;           // device node, e.g. /dev/sda1
  uint64_t start_sector = 0;  // 512-byte units from the start of the disk
  uint64_t sectors = 0;       // 512-byte units
};

struct BlockDisk {
  std::string name;  // kernel name, e.g. sda
  std::string node;  // device node, e.g. /dev/sda
  std::string model;
  bool removable = false;
  uint64_t sectors = 0;                    // 512-byte units
  std::vector<BlockPartition> partitions;  // by partition number
};

// Whole disks from `sys_block_dir` (normally /sys/block) whose node in `dev_dir` opens for
// reading, in kernel-name order. Left out: RAM disks (ram*, zram*), CD-ROM drives (sr*),
// devices of size 0 (an unattached loop device, a reader without a medium), disks whose model
// text is empty. Model: device/vendor and device/model; a loop device's is its backing file's
// name. Partitions that do not open, and extended-partition stubs (2 sectors or fewer), are
// left out. The nodes of disks left out only because they do not open go to `unreadable`.
std::vector<BlockDisk> ListBlockDisks(const std::string& sys_block_dir, const std::string& dev_dir,
                                      std::vector<std::string>* unreadable = nullptr);

// The device `dev` and every block device it is built on, found through `sys_dir` (normally
// /sys): the disk a partition lies on, and recursively the devices under a mapper, RAID or
// other stacked device (its "slaves").
std::vector<dev_t> UnderlyingBlockDevices(const std::string& sys_dir, dev_t dev);

// The file behind loop device `dev` (or behind the loop device a partition lies on), "" when
// `dev` is not backed by a file.
std::string LoopBackingFile(const std::string& sys_dir, dev_t dev);

}  // namespace kestrel
