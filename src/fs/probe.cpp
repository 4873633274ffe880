#include "fs/probe.h"

#include <vector>

#include "fs/exfat/exfat_file_system.h"
#include "fs/fat/fat_file_system.h"
#include "fs/ntfs/ntfs_file_system.h"
#include "run/messages.h"

namespace kestrel {

const std::vector<ProbeRow>& ProbeTable() {
  static const std::vector<ProbeRow> rows = {
      {"exFAT", OpenExfatFileSystem},
      {"NTFS", OpenNtfsFileSystem},
      {"FAT", OpenFatFileSystem},
  };
  return rows;
}

ProbeResult OpenFileSystem(ByteSource& volume) {
  BootSector boot{};
  if (volume.ReadExact(0, boot.data(), boot.size())) {
    for (const ProbeRow& row : ProbeTable()) {
      if (std::optional<ProbeResult> result = row.open(volume, boot)) return std::move(*result);
    }
  }
  if (volume.Size() == 0) return {nullptr, msg::kMediaNotPresent, MessageIcon::kStop};
  return {nullptr, msg::kNoFileSystem, MessageIcon::kInformation};
}

}  // namespace kestrel
