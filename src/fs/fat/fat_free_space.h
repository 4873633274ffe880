#pragma once
// The free clusters of a FAT12/16/32 volume: a data cluster is free when its FAT entry is 0.

#include <memory>

#include "fs/fat/fat_volume.h"
#include "fs/free_space.h"

namespace kestrel {

// kNoFileSystem when the geometry cannot be walked, kUnreadable when the first FAT cannot be
// read whole (a cluster taken for live only because its entry was unreadable would be lost).
FreeSpaceResult OpenFatFreeSpace(ByteSource& volume, const FatVolumeInfo& info,
                                 std::unique_ptr<FreeSpaceMap>* map);

}  // namespace kestrel
