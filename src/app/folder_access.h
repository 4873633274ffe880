#pragma once
// Whether recovered files can be saved in a folder, asked of the system without writing
// anything: the folder, or the nearest existing folder above it when it is still to be made,
// must be a folder this user may write to and enter.

#include <string>

namespace kestrel {

// "" when `folder` can take recovered files; otherwise the system's reason ("Permission
// denied", "Read-only file system", "Not a directory").
std::string FolderWriteProblem(const std::string& folder);

}  // namespace kestrel
