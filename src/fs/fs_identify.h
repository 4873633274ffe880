#pragma once
// Which file system a volume carries, and the route the deleted-files mode takes for it:
// exFAT is refused, a volume without a usable FAT boot sector is refused, NTFS goes to the MFT
// reader, the rest to the FAT search.

#include <cstdint>
#include <string>

#include "fs/fat/fat_volume.h"
#include "sources/scan_source.h"

namespace kestrel {

// Case-insensitive comparison of file-system names.
bool SameFileSystemName(const std::string& a, const std::string& b);

enum class VolumeRoute { kRefused, kNtfs, kFat };

struct VolumeIdentity {
  VolumeRoute route = VolumeRoute::kRefused;
  int message_id = 0;  // the refusal: 125, 119 or 1090
  FatVolumeInfo fat;   // the boot sector's geometry (also filled for NTFS)
};

// The decisions in their order: the name "exFAT" is refused (125); then the boot sector must be
// a usable FAT boot sector, else 119 when the volume has a size and 1090 when it has none;
// then the name "NTFS" routes to the MFT reader and every other volume to the FAT search.
VolumeIdentity IdentifyVolume(ScanSource& source, const std::string& fs_name);

}  // namespace kestrel
