#pragma once
// The folders of an exFAT volume: the live folder tree (the window's tree and --folder), and
// the search for deleted files below a folder, which goes into every folder below it, live or
// deleted (a deleted folder's entry set still says where its entries lie).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fs/exfat/exfat_entry_set.h"
#include "fs/exfat/exfat_volume.h"
#include "run/run_context.h"

namespace kestrel {

// A file's entry set found by the search, in the order found.
struct ExfatFoundFile {
  ExfatEntrySet set;
  std::string folder;  // "/" or "/A/B"
  // Marked deleted; false for a set left in use inside a deleted folder.
  bool entry_deleted = true;
};

// The names of the live folders inside `folder_path` ("" or "/" for the root), in entry order;
// nothing when the folder does not exist. Components match whole names, ASCII case ignored.
std::optional<std::vector<std::string>> ExfatLiveFolders(ExfatVolume& volume,
                                                         const std::string& folder_path);

enum class ExfatSearchEnd { kDone, kCancelled, kFolderNotFound };

// Walks the selected folder and every folder below it, each cluster read as a folder once, to
// a depth of 128 and at most 65,536 folders. In a live folder the deleted sets count, in a
// deleted folder every set. A component of `folder_path` matches the live folder of that name
// first, then the first whose name contains it.
ExfatSearchEnd SearchExfatFolders(ExfatVolume& volume, const std::string& folder_path,
                                  RunContext& run, std::vector<ExfatFoundFile>* files);

}  // namespace kestrel
