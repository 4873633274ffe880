#pragma once
// The folders the source tree offers: those of a mounted volume come from its mount point, those
// of a volume that is not mounted from Kestrel's own reader of the file system the probe table
// finds on it, and those of the special folders (Desktop, Documents) from the file system.

#include <optional>
#include <string>
#include <vector>

#include "platform/mount_info.h"
#include "sources/drive_enumeration.h"

namespace kestrel {

// Where the folders of a volume are read from.
struct VolumeFolderSource {
  const VolumeEntry* volume = nullptr;
  std::optional<std::string> mount_point;  // set when the volume's block device is mounted
};

// The mount point of a volume that is a block device of its own (not a slice of a disk or an
// image file): the shortest mount point of the mounts of its device. Nothing when not mounted.
std::optional<std::string> VolumeMountPoint(const VolumeEntry& volume,
                                            const std::vector<MountEntry>& mounts);

// Whether the volume holds the root file system (the tree marks it with " *").
bool IsSystemVolume(const VolumeEntry& volume, const std::vector<MountEntry>& mounts);

// The value "LABEL" of section "autorun" in "autorun.inf" at the root of a mounted volume
// (names compared without regard to case, at most 260 characters); "" when there is none.
std::string ReadAutorunLabel(const std::string& mount_point);

// Whether the tree lists a folder: not when its full path, upper-cased, contains "RECYCLE" or
// "SYSTEM VOLUME INFORMATION", nor when its name holds "?" or is not valid UTF-8.
bool IsListedFolder(const std::string& full_path, const std::string& name);

// Subfolder names of a folder of the file system, in the order the directory gives them ("."
// and ".." left out; nothing when it cannot be listed).
std::vector<std::string> ListNativeFolders(const std::string& folder);
bool HasNativeSubfolder(const std::string& folder);

// Subfolder names of `inner_path` ("/" or "/DCIM/100CANON") of a volume. A file system that
// offers no folders (NTFS) gives none, mounted or not.
std::vector<std::string> ListVolumeFolders(const VolumeFolderSource& source,
                                           const std::string& inner_path);

// "/a/b" + "c" -> "/a/b/c".
std::string JoinPath(const std::string& folder, const std::string& name);

}  // namespace kestrel
