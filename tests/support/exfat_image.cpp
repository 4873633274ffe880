#include "support/exfat_image.h"

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <system_error>

#include "fs/exfat/exfat_entry_set.h"
#include "platform/byte_order.h"
#include "support/temp_dir.h"

namespace kestrel::testing {
namespace {

std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

}  // namespace

std::unique_ptr<ExfatImage> ExfatImage::Create(const std::string& image_path,
                                               const std::string& mount_point, uint64_t mib,
                                               uint32_t cluster_bytes, std::string* why) {
  if (!HaveTool("mkfs.exfat") || !HaveTool("mount.exfat-fuse") || !HaveTool("losetup")) {
    *why = "mkfs.exfat, mount.exfat-fuse (exfat-fuse) or losetup is not installed";
    return nullptr;
  }
  if (geteuid() != 0) {
    *why = "mounting an exFAT image through a loop device needs root";
    return nullptr;
  }
  std::string command =
      "truncate -s " + std::to_string(mib) + "M " + Quoted(image_path) + " && mkfs.exfat ";
  if (cluster_bytes != 0) command += "-c " + std::to_string(cluster_bytes) + " ";
  std::string output;
  if (RunCommand(command + Quoted(image_path) + " >/dev/null", &output) != 0) {
    *why = "mkfs.exfat failed: " + output;
    return nullptr;
  }
  std::error_code ec;
  std::filesystem::create_directories(mount_point, ec);
  std::unique_ptr<ExfatImage> image(new ExfatImage(image_path, mount_point));
  if (!image->Mount(why)) return nullptr;
  return image;
}

ExfatImage::~ExfatImage() {
  Unmount();
}

bool ExfatImage::Mount(std::string* why) {
  std::string output;
  if (RunCommand("losetup --find --show " + Quoted(image_path_), &output) != 0) {
    *why = "no loop device: " + output;
    return false;
  }
  loop_ = Trimmed(output);
  if (RunCommand("mount.exfat-fuse " + loop_ + " " + Quoted(mount_point_), &output) != 0) {
    *why = "mount.exfat-fuse failed: " + output;
    RunCommand("losetup -d " + loop_);
    loop_.clear();
    return false;
  }
  return true;
}

bool ExfatImage::Unmount() {
  if (loop_.empty()) return true;
  const bool unmounted = RunCommand("sync && umount " + Quoted(mount_point_)) == 0;
  const bool detached = RunCommand("losetup -d " + loop_) == 0;
  loop_.clear();
  return unmounted && detached;
}

std::string ExfatImage::Mounted(const std::string& path) const {
  return mount_point_ + path;
}

bool ExfatImage::WriteFile(const std::string& path, const std::vector<uint8_t>& content) {
  WriteFileBytes(Mounted(path), content);
  std::error_code ec;
  return std::filesystem::file_size(Mounted(path), ec) == content.size() && !ec;
}

bool ExfatImage::MakeFolder(const std::string& path) {
  std::error_code ec;
  return std::filesystem::create_directories(Mounted(path), ec) && !ec;
}

bool ExfatImage::Delete(const std::string& path) {
  std::error_code ec;
  return std::filesystem::remove_all(Mounted(path), ec) > 0 && !ec;
}

std::vector<uint8_t> ExfatImage::Snapshot() {
  if (!Unmount()) return {};
  std::vector<uint8_t> bytes = ReadFileBytes(image_path_);
  std::string why;
  if (!Mount(&why)) return {};
  return bytes;
}

std::optional<PlantedExfat> PlantedExfat::Format(const std::string& dir, uint64_t mib,
                                                 uint32_t cluster_bytes, std::string* why) {
  if (!HaveTool("mkfs.exfat")) {
    *why = "mkfs.exfat (exfatprogs) is not installed";
    return std::nullopt;
  }
  const std::string path = dir + "/planted.img";
  std::string output;
  if (RunCommand("truncate -s " + std::to_string(mib) + "M " + Quoted(path) + " && mkfs.exfat -c " +
                     std::to_string(cluster_bytes) + " " + Quoted(path) + " >/dev/null",
                 &output) != 0) {
    *why = "mkfs.exfat failed: " + output;
    return std::nullopt;
  }
  PlantedExfat planted;
  planted.bytes_ = ReadFileBytes(path);
  std::optional<ExfatGeometry> geometry = ParseExfatBootSector(planted.bytes_.data());
  if (!geometry) {
    *why = "mkfs.exfat wrote a boot sector that does not parse";
    return std::nullopt;
  }
  planted.geometry_ = *geometry;
  return planted;
}

uint64_t PlantedExfat::RootEntry(size_t slot) const {
  return ClusterOffset(geometry_.root_cluster) + slot * kExfatEntryBytes;
}

uint64_t PlantedExfat::FindRootEntry(uint8_t type) const {
  size_t slot = 0;
  while (bytes_[RootEntry(slot)] != type && bytes_[RootEntry(slot)] != 0) ++slot;
  return RootEntry(slot);
}

size_t PlantedExfat::FreeRootSlot() const {
  size_t slot = 0;
  while (bytes_[RootEntry(slot)] != 0) ++slot;
  return slot;
}

void PlantedExfat::SetFat(uint32_t cluster, uint32_t value) {
  uint8_t* at = bytes_.data() + geometry_.fat_offset + uint64_t{cluster} * 4;
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

void PlantedExfat::SetInUse(uint32_t cluster, bool in_use) {
  const uint64_t bitmap = FindRootEntry(0x81);
  const uint64_t at = ClusterOffset(LoadLe32(bytes_.data() + bitmap + 20)) + (cluster - 2) / 8;
  const auto bit = static_cast<uint8_t>(1u << ((cluster - 2) % 8));
  bytes_[at] = static_cast<uint8_t>(in_use ? bytes_[at] | bit : bytes_[at] & ~bit);
}

void PlantedExfat::WriteClusters(uint32_t first, const std::vector<uint8_t>& content) {
  std::memcpy(bytes_.data() + ClusterOffset(first), content.data(), content.size());
}

size_t PlantedExfat::PutSet(size_t slot, const SetSpec& spec) {
  return slot + PutSetAt(RootEntry(slot), spec);
}

std::vector<ExfatRawEntry> PlantedExfat::MakeSet(const SetSpec& spec) {
  const size_t name_entries = (spec.name.size() + 14) / 15;
  std::vector<ExfatRawEntry> set(2 + name_entries, ExfatRawEntry{});
  const uint8_t in_use = spec.deleted ? 0 : 0x80;
  set[0][0] = 0x05 | in_use;
  set[0][1] = static_cast<uint8_t>(1 + name_entries);
  set[0][4] = spec.directory ? 0x10 : 0x20;
  // 2024-01-15 12:34:56 local time, 1 hour east of UTC, for created, modified and accessed.
  const uint32_t stamp = (44u << 25) | (1u << 21) | (15u << 16) | (12u << 11) | (34u << 5) | 28u;
  for (size_t field : {8, 12, 16}) {
    for (int i = 0; i < 4; ++i) set[0][field + i] = static_cast<uint8_t>(stamp >> (8 * i));
  }
  set[0][22] = set[0][23] = set[0][24] = 0x80 | 4;
  set[1][0] = 0x40 | in_use;
  set[1][1] = static_cast<uint8_t>(0x01 | (spec.no_fat_chain ? 0x02 : 0));
  set[1][3] = static_cast<uint8_t>(spec.name.size());
  const uint64_t valid = spec.valid_length.value_or(spec.data_length);
  for (int i = 0; i < 8; ++i) {
    set[1][8 + i] = static_cast<uint8_t>(valid >> (8 * i));
    set[1][24 + i] = static_cast<uint8_t>(spec.data_length >> (8 * i));
  }
  for (int i = 0; i < 4; ++i) set[1][20 + i] = static_cast<uint8_t>(spec.first_cluster >> (8 * i));
  for (size_t c = 0; c < spec.name.size(); ++c) {
    ExfatRawEntry& entry = set[2 + c / 15];
    entry[0] = 0x41 | in_use;
    entry[2 + 2 * (c % 15)] = static_cast<uint8_t>(spec.name[c]);
  }
  const uint16_t checksum = ExfatSetChecksum(set);
  set[0][2] = static_cast<uint8_t>(checksum);
  set[0][3] = static_cast<uint8_t>(checksum >> 8);
  return set;
}

size_t PlantedExfat::PutSetAt(uint64_t at, const SetSpec& spec) {
  const std::vector<ExfatRawEntry> set = MakeSet(spec);
  for (size_t i = 0; i < set.size(); ++i) {
    std::memcpy(bytes_.data() + at + i * kExfatEntryBytes, set[i].data(), kExfatEntryBytes);
  }
  return set.size();
}

}  // namespace kestrel::testing
