#pragma once
// The device map file: the images Kestrel shows as volumes and disks, one entry a line.
//
//   F: /srv/usb.img               a volume image at letter F
//   disk /srv/sd.img removable    a whole-disk image; its partitions take the next free letters
//   # a comment
//
// A path may be written in double quotes (needed when it ends in " removable"); a relative
// path is taken relative to the map file's folder.

#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

struct DeviceMapEntry {
  enum class Kind { kVolume, kDisk };
  Kind kind = Kind::kVolume;
  char letter = 0;  // kVolume: 'A'..'Z'
  std::string path;
  bool removable = false;
  int line = 0;  // line number in the map file, for messages
};

struct DeviceMapFile {
  std::vector<DeviceMapEntry> entries;  // in file order
  std::vector<std::string> warnings;    // one per skipped line
};

// Parses the text of the map file at `map_path` (used to resolve relative paths and to name
// the file in warnings). A malformed line, or a letter given twice, is skipped with a warning.
DeviceMapFile ParseDeviceMap(std::string_view text, const std::string& map_path);

// Reads and parses the map file. A missing file gives no entries; when `warn_if_missing` it
// also gives a warning (the file was named explicitly).
DeviceMapFile ReadDeviceMap(const std::string& map_path, bool warn_if_missing);

// $KESTREL_DEVICES, else devices.conf in the folder of the settings store. `is_explicit` tells
// whether the environment named it.
std::string DefaultDeviceMapPath(bool* is_explicit);

}  // namespace kestrel
