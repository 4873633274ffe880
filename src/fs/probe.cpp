#include "fs/probe.h"

#include <cstring>
#include <vector>

#include "fs/fat/fat_file_system.h"
#include "fs/ntfs/ntfs_file_system.h"
#include "run/messages.h"

namespace kestrel {
namespace {

bool HasOemName(const BootSector& boot, const char (&name)[9]) {
  return std::memcmp(boot.data() + 3, name, 8) == 0;
}

// exFAT is not read in the deleted-files mode; its boot sector also passes no FAT test.
std::optional<ProbeResult> RefuseExfat(ByteSource&, const BootSector& boot) {
  if (!HasOemName(boot, "EXFAT   ")) return std::nullopt;
  return ProbeResult{nullptr, msg::kExfatRefused, MessageIcon::kStop};
}

}  // namespace

const std::vector<ProbeRow>& ProbeTable() {
  static const std::vector<ProbeRow> rows = {
      {"exFAT", RefuseExfat},
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
