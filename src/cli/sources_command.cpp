// kestrel-cli sources: the volumes and disks, as the window's source list shows them.

#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "cli/json_text.h"
#include "disk/drive_enumeration.h"
#include "run/messages.h"

namespace kestrel {
namespace {

// The list shows at most 25 characters of a volume label.
constexpr size_t kMaxLabelChars = 25;

// The first `count` characters of UTF-8 `text` (a character is never cut in two).
std::string FirstCharacters(const std::string& text, size_t count) {
  size_t pos = 0;
  for (size_t seen = 0; pos < text.size() && seen < count; ++seen) {
    ++pos;
    while (pos < text.size() && (static_cast<unsigned char>(text[pos]) & 0xC0) == 0x80) ++pos;
  }
  return text.substr(0, pos);
}

std::string VolumeRow(const VolumeEntry& volume) {
  std::string label = FirstCharacters(volume.label, kMaxLabelChars);
  if (label.empty()) label = volume.removable ? "Removable Disk" : "Local Disk";
  return " " + label + " (" + volume.letter + ":)";
}

std::string DiskRow(const PhysicalDiskEntry& disk) {
  std::string model = disk.model;
  while (!model.empty() && model.back() == ' ') model.pop_back();
  return " " + model;
}

void PrintRows(const DeviceMap& map) {
  for (const VolumeEntry& volume : map.volumes) std::printf("%s\n", VolumeRow(volume).c_str());
  std::printf("Physical Drives\n");
  for (const PhysicalDiskEntry& disk : map.disks) std::printf("%s\n", DiskRow(disk).c_str());
}

void PrintJson(const DeviceMap& map) {
  for (const VolumeEntry& volume : map.volumes) {
    std::printf(
        "{\"kind\": \"volume\", \"letter\": \"%c\", \"label\": %s, \"fs\": %s, \"bytes\": %llu, "
        "\"device\": %s, \"removable\": %s}\n",
        volume.letter, JsonString(volume.label).c_str(), JsonString(volume.fs_name).c_str(),
        static_cast<unsigned long long>(volume.bytes), JsonString(volume.device).c_str(),
        volume.removable ? "true" : "false");
  }
  for (const PhysicalDiskEntry& disk : map.disks) {
    std::printf(
        "{\"kind\": \"disk\", \"ordinal\": %d, \"model\": %s, \"sectors\": %llu, \"letters\": %s, "
        "\"device\": %s}\n",
        disk.ordinal, JsonString(disk.model).c_str(),
        static_cast<unsigned long long>(disk.sector_count), JsonString(disk.volume_letters).c_str(),
        JsonString(disk.device).c_str());
  }
}

}  // namespace

int RunSourcesCommand(const CliOptions& options) {
  if (!options.positional.empty()) {
    std::fprintf(stderr,
                 "kestrel-cli sources: takes no SOURCE\nUsage: kestrel-cli sources [--json]\n");
    return kExitUsage;
  }
  DeviceMap map = EnumerateDevices();
  for (const std::string& warning : map.warnings)
    std::fprintf(stderr, "kestrel-cli: %s\n", warning.c_str());
  if (map.volumes.empty() && map.disks.empty()) {
    std::fprintf(stderr, "%s\n", std::string(MessageText(msg::kNoDevice)).c_str());
    return kExitFailed;
  }
  if (options.json) {
    PrintJson(map);
  } else {
    PrintRows(map);
  }
  return kExitOk;
}

}  // namespace kestrel
