#pragma once
// The mounted file systems, from /proc/self/mountinfo (or the file named by KESTREL_MOUNTINFO,
// which lets tests say which device a folder's file system lives on).

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

struct MountEntry {
  dev_t device = 0;         // the major:minor field
  std::string mount_point;  // with the kernel's octal escapes decoded
  std::string fs_type;
  std::string source;  // e.g. /dev/sda1
};

// Parses the text of a mountinfo file; malformed lines are skipped.
std::vector<MountEntry> ParseMountInfo(std::string_view text);

// $KESTREL_MOUNTINFO, else /proc/self/mountinfo.
std::string MountInfoPath();

// Reads and parses the mountinfo file at MountInfoPath(); empty when it cannot be read.
std::vector<MountEntry> ReadMountInfo();

// The mount that holds the absolute, symlink-free `path`: the one whose mount point is the
// longest prefix of it (the later one when two mounts share a mount point, as the later one
// covers the earlier).
std::optional<MountEntry> FindMountHolding(const std::vector<MountEntry>& mounts,
                                           const std::string& path);

}  // namespace kestrel
