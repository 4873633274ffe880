#pragma once
// Where an NTFS file lies in its volume's folders: the chain of $FILE_NAME parents up to the
// root folder (record 5), read from the loaded MFT.

#include <cstdint>
#include <string>
#include <unordered_map>

#include "fs/ntfs/ntfs_volume.h"

namespace kestrel {

// The folder that holds files whose parent chain is broken: a parent record reused by another
// file, not a folder, or unreadable.
inline constexpr const char* kNtfsOrphanFolder = "/KES_ORPHANS";

class NtfsPaths {
 public:
  explicit NtfsPaths(NtfsDrive& drive) : drive_(drive) {}

  // The folder a $FILE_NAME parent reference names: "/" for the root, "/A/B" below it (deleted
  // folders included), kNtfsOrphanFolder when the chain is broken or loops.
  std::string FolderOf(uint64_t parent_reference);

 private:
  std::string Resolve(uint64_t parent_reference, int depth);

  NtfsDrive& drive_;
  std::unordered_map<uint64_t, std::string> folders_;  // by record number
};

// Whether `path` ("/A/B/c.jpg") lies below `folder` ("/a", "/" for everything); components are
// compared without regard to ASCII case.
bool NtfsPathIsBelow(const std::string& path, const std::string& folder);

}  // namespace kestrel
