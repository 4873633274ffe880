#pragma once
// Partial files: a recovered file is written as "/folder/.NAME.part" and renamed to
// "/folder/NAME" once complete. While a run writes it, the partial file holds an exclusive flock
// (released when the process ends, even by SIGKILL) and, where the file system takes extended
// attributes, "user.kestrel.partial" = NAME. A later run deletes only partial files that are
// unlocked and carry that marker; on file systems without extended attributes the name pattern
// is the marker.

#include <cstddef>
#include <string>

namespace kestrel {

// "/folder/.NAME.part" for "/folder/NAME".
std::string PartialPathFor(const std::string& path);

// Claims the partial file open at `fd` for this process: takes its lock and sets the marker
// (NAME being the final name). False when another process holds it locked.
bool ClaimPartialFile(int fd, const std::string& final_name);

// Deletes the partial files of ended runs in `folder`. Returns how many were deleted.
size_t RemoveStalePartialFiles(const std::string& folder);

}  // namespace kestrel
