#pragma once
// Disk images and devices attached by the user (command line, file browser, a drop onto the
// window, a second start) beside the device map: each is read as a whole disk, so that its
// partitions, or the file system that fills it, become lettered volumes as the map's own
// "disk" lines do.

#include <string>
#include <vector>

#include "sources/drive_enumeration.h"

namespace kestrel {

// Why `path` cannot be attached ("" when it can): missing, a folder, unreadable or empty.
std::string ImageRefusal(const std::string& path);

// Adds the image or device at `path` to `map` as one more disk; its volumes take the free
// letters from C on. Returns "" or the reason it was not added; problems with single partitions
// go to map->warnings.
std::string AttachImage(DeviceMap* map, const std::string& path);

// Whether the map holds something to recover from: a volume, or a disk the user attached.
bool MapHasSource(const DeviceMap& map);

}  // namespace kestrel
