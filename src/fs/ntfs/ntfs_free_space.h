#pragma once
// The free clusters of an NTFS volume: a cluster is free when its bit in $Bitmap is 0. Clusters
// past the bitmap's end are not described as used, so they count as free.

#include <cstddef>
#include <memory>

#include "fs/free_space.h"
#include "fs/ntfs/ntfs_bitmap.h"
#include "fs/ntfs/ntfs_volume.h"

namespace kestrel {

// kUnreadable when $Bitmap cannot be read (whole) or the volume's structures are damaged.
FreeSpaceResult OpenNtfsFreeSpace(ByteSource& volume, std::unique_ptr<FreeSpaceMap>* map);

// $Bitmap of the volume `drive` reads, through a window of `window_bytes`; nothing when it
// cannot be found.
std::unique_ptr<NtfsBitmap> OpenNtfsBitmap(NtfsDrive& drive, size_t window_bytes);

}  // namespace kestrel
