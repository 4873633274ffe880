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

// Creates the partial file `partial_name` (relative to the folder open at `folder_fd`, or a path
// with AT_FDCWD) for `final_name` exclusively (EEXIST when anything of that name exists, a link
// included), locked and marked before it appears under its name, so a process killed at any
// moment leaves either nothing or a marked file. Returns the descriptor, or -1 with errno set.
int CreatePartialFile(int folder_fd, const std::string& partial_name, const std::string& final_name,
                      bool readable);

// Opens the partial file `partial_name` of an ended run (unlocked, marked for `final_name`) to
// go on writing it, and locks it as the run's own. Returns the descriptor, or -1 with errno set
// (EBUSY: a live run holds it).
int AdoptPartialFile(int folder_fd, const std::string& partial_name, const std::string& final_name);

// Deletes the partial files of ended runs in `folder`. Returns how many were deleted.
size_t RemoveStalePartialFiles(const std::string& folder);
// The same in the folder open at `folder_fd`.
size_t RemoveStalePartialFilesIn(int folder_fd);

}  // namespace kestrel
