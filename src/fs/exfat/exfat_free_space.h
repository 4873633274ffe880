#pragma once
// The free clusters of an exFAT volume: a cluster of the heap is free when its bit in the
// allocation bitmap is 0. The boot regions, the FAT and the clusters past the source's end are
// not offered.

#include <memory>

#include "fs/exfat/exfat_volume.h"
#include "fs/free_space.h"

namespace kestrel {

// The map reads `source` through a volume of its own, so it outlives the file system that
// made it. kUnreadable when the allocation bitmap cannot be read whole: a cluster taken for
// used only because its bit was unreadable would be lost without a word.
FreeSpaceResult OpenExfatFreeSpace(ByteSource& source, const ExfatGeometry& geometry,
                                   std::unique_ptr<FreeSpaceMap>* map);

}  // namespace kestrel
