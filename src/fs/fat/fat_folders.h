#pragma once
// The live folder tree of a FAT volume read with Kestrel's own reader: the folders the window's
// tree and --folder offer on a volume that is not mounted, and the resolution of the folder
// selected for a deleted-files run.

#include <cstdint>
#include <string>
#include <vector>

#include "fs/fat/fat_volume.h"
#include "platform/byte_source.h"

namespace kestrel {

// Splits "/DCIM/100CANON" (or with "\") into its components; empty ones and "." are dropped.
std::vector<std::string> SplitFolderPath(const std::string& folder_path);

// The names of the live folders inside `folder_path` ("" or "/" for the root), in directory
// order. Components are matched by whole name, without regard to case. Empty when the source
// holds no usable FAT file system or the folder does not exist; `found` tells the two apart
// from an empty folder.
std::vector<std::string> ListFatFolders(ByteSource& source, const std::string& folder_path,
                                        bool* found = nullptr);

enum class FolderResolution { kFound, kNotFound };

struct SelectedFolder {
  FolderResolution resolution = FolderResolution::kNotFound;
  uint32_t cluster = 0;           // first cluster of the folder, 0 for the root
  uint32_t depth = 0;             // number of path components
  uint32_t recycled_cluster = 0;  // first cluster of the root's "Recycled" folder, 0 when none
};

// Walks the live folders from the root to `folder_path`. A component matches the folder of the
// same name (case ignored) or, when there is none, the first folder whose name contains it.
SelectedFolder ResolveSelectedFolder(FatVolume& volume, const std::string& folder_path);

}  // namespace kestrel
