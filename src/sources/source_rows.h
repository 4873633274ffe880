#pragma once
// The texts of the source list and of the source tree's drive items, from the device map.

#include <string>

#include "sources/drive_enumeration.h"

namespace kestrel {

inline constexpr const char* kPhysicalDrivesHeader = "Physical Drives";

// " Label (E:)": the label cut to 25 characters, or "Removable Disk" / "Local Disk".
std::string VolumeRowText(const VolumeEntry& volume);
// " model" with trailing blanks removed.
std::string DiskRowText(const PhysicalDiskEntry& disk);

// The label of a tree drive item: the autorun label when there is one (not empty, not "Fail"),
// else the volume label, else "Removable Disk" / "Local Disk".
std::string DriveItemLabel(const VolumeEntry& volume, const std::string& autorun_label);
// "Label (E:)", with " *" after it on the fixed drive that holds the system.
std::string DriveItemText(const std::string& label, char letter, bool system_drive);

// The first `count` characters of UTF-8 `text` (a character is never cut in two).
std::string FirstCharacters(const std::string& text, size_t count);

}  // namespace kestrel
