#include "fs/fs_identify.h"

#include <cctype>

#include "run/messages.h"

namespace kestrel {

bool SameFileSystemName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

VolumeIdentity IdentifyVolume(ScanSource& source, const std::string& fs_name) {
  VolumeIdentity identity;
  if (SameFileSystemName(fs_name, "exFAT")) {
    identity.message_id = msg::kExfatRefused;
    return identity;
  }
  if (!source.bytes || !IdentifyFatVolume(*source.bytes, &identity.fat)) {
    const bool has_size = source.bytes && source.bytes->Size() != 0;
    identity.message_id = has_size ? msg::kNoFileSystem : msg::kMediaNotPresent;
    return identity;
  }
  identity.route = SameFileSystemName(fs_name, "NTFS") ? VolumeRoute::kNtfs : VolumeRoute::kFat;
  return identity;
}

}  // namespace kestrel
