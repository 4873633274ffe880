#pragma once
// The SOURCE argument of scan and deleted: a letter ("E:"), a disk ("disk0"), or a path.

#include <string>

#include "sources/drive_enumeration.h"

namespace kestrel {

struct SourceArgument {
  enum class Kind { kVolume, kDisk, kPath, kInvalid } kind = Kind::kInvalid;
  const VolumeEntry* volume = nullptr;
  const PhysicalDiskEntry* disk = nullptr;
  std::string path;
  std::string error;  // why it is invalid
};

SourceArgument ResolveSourceArgument(const std::string& text, const DeviceMap& map);

}  // namespace kestrel
