#include "app/volume_folders.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "fs/probe.h"
#include "platform/byte_source.h"
#include "platform/image_container.h"
#include "platform/text_trim.h"
#include "sources/source_rows.h"

namespace kestrel {
namespace {

constexpr size_t kMaxAutorunLabel = 260;

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// Whether `text` is well-formed UTF-8 (shortest forms, no surrogates, at most U+10FFFF).
bool IsValidUtf8(const std::string& text) {
  size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    size_t extra = 0;
    uint32_t code = lead;
    if (lead >= 0xF0 && lead <= 0xF4) {
      extra = 3;
      code = lead & 0x07u;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      extra = 2;
      code = lead & 0x0Fu;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      extra = 1;
      code = lead & 0x1Fu;
    } else if (lead >= 0x80) {
      return false;
    }
    if (extra != 0 && i + extra >= text.size()) return false;
    for (size_t k = 1; k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3Fu);
    }
    if ((extra == 2 && code < 0x800) || (extra == 3 && (code < 0x10000 || code > 0x10FFFF))) {
      return false;
    }
    if (code >= 0xD800 && code <= 0xDFFF) return false;
    i += extra + 1;
  }
  return true;
}

std::optional<dev_t> BlockDeviceNumber(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISBLK(info.st_mode)) return std::nullopt;
  return info.st_rdev;
}

// A volume read through its own device node (not a slice of a disk or an image).
std::optional<dev_t> OwnDeviceNumber(const VolumeEntry& volume) {
  if (volume.in_image || volume.offset != 0) return std::nullopt;
  return BlockDeviceNumber(volume.device);
}

std::unique_ptr<ByteSource> OpenVolumeBytes(const VolumeEntry& volume) {
  const uint64_t length = volume.offset != 0 ? volume.bytes : 0;
  return OpenImage(volume.device, volume.offset, length).bytes;
}

}  // namespace

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

std::optional<std::string> VolumeMountPoint(const VolumeEntry& volume,
                                            const std::vector<MountEntry>& mounts) {
  std::optional<dev_t> device = OwnDeviceNumber(volume);
  if (!device) return std::nullopt;
  std::optional<std::string> best;
  for (const MountEntry& mount : mounts) {
    if (mount.device != *device) continue;
    if (!best || mount.mount_point.size() < best->size()) best = mount.mount_point;
  }
  return best;
}

bool IsSystemVolume(const VolumeEntry& volume, const std::vector<MountEntry>& mounts) {
  if (volume.removable) return false;
  std::optional<dev_t> device = OwnDeviceNumber(volume);
  if (!device) return false;
  std::optional<MountEntry> root = FindMountHolding(mounts, "/");
  return root && root->device == *device;
}

std::string ReadAutorunLabel(const std::string& mount_point) {
  std::ifstream file(JoinPath(mount_point, "autorun.inf"));
  if (!file) return {};
  bool in_autorun = false;
  std::string line;
  while (std::getline(file, line)) {
    line = std::string(Trim(line));
    if (line.empty() || line[0] == ';') continue;
    if (line.front() == '[') {
      in_autorun = Upper(line) == "[AUTORUN]";
      continue;
    }
    const size_t equals = line.find('=');
    if (!in_autorun || equals == std::string::npos) continue;
    if (Upper(std::string(Trim(line.substr(0, equals)))) != "LABEL") continue;
    std::string value(Trim(line.substr(equals + 1)));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    return FirstCharacters(value, kMaxAutorunLabel);
  }
  return {};
}

bool IsListedFolder(const std::string& full_path, const std::string& name) {
  const std::string upper = Upper(full_path);
  if (upper.find("RECYCLE") != std::string::npos) return false;
  if (upper.find("SYSTEM VOLUME INFORMATION") != std::string::npos) return false;
  if (name.find('?') != std::string::npos) return false;
  return IsValidUtf8(name);
}

std::vector<std::string> ListNativeFolders(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  std::filesystem::directory_iterator it(
      folder, std::filesystem::directory_options::skip_permission_denied, ec);
  for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    std::error_code type_ec;
    if (it->is_directory(type_ec) && !it->is_symlink(type_ec)) {
      names.push_back(it->path().filename().string());
    }
  }
  return names;
}

bool HasNativeSubfolder(const std::string& folder) {
  return !ListNativeFolders(folder).empty();
}

// The file system found on the volume decides whether it offers folders; a mounted volume's
// folders come from its mount point, the others from the file system itself.
std::vector<std::string> ListVolumeFolders(const VolumeFolderSource& source,
                                           const std::string& inner_path) {
  if (source.volume == nullptr) return {};
  std::unique_ptr<ByteSource> bytes = OpenVolumeBytes(*source.volume);
  ProbeResult probed;
  if (bytes) probed = OpenFileSystem(*bytes);
  if (probed.file_system && !probed.file_system->OffersFolders()) return {};
  if (source.mount_point) {
    std::string native = *source.mount_point;
    if (inner_path != "/" && !inner_path.empty()) native = JoinPath(native, inner_path.substr(1));
    return ListNativeFolders(native);
  }
  if (!probed.file_system) return {};
  return probed.file_system->Folders(inner_path, nullptr);
}

}  // namespace kestrel
