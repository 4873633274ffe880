// kestrel-cli sources: the volumes and disks, as the window's source list shows them.

#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "cli/json_text.h"
#include "cli/terminal_text.h"
#include "run/messages.h"
#include "sources/drive_enumeration.h"
#include "sources/source_rows.h"

namespace kestrel {
namespace {

// Labels and models come from the volumes and devices: escaped as names are.
void PrintRows(const DeviceMap& map) {
  for (const VolumeEntry& volume : map.volumes) {
    std::printf("%s\n", TerminalText(VolumeRowText(volume)).c_str());
  }
  std::printf("%s\n", kPhysicalDrivesHeader);
  for (const PhysicalDiskEntry& disk : map.disks) {
    std::printf("%s\n", TerminalText(DiskRowText(disk)).c_str());
  }
}

void PrintJson(const DeviceMap& map) {
  for (const VolumeEntry& volume : map.volumes) {
    const JsonObject line = {{"kind", "volume"},
                             {"letter", std::string(1, volume.letter)},
                             {"label", volume.label},
                             {"fs", volume.fs_name},
                             {"bytes", volume.bytes},
                             {"device", volume.device},
                             {"removable", volume.removable}};
    std::printf("%s\n", JsonLine(line).c_str());
  }
  for (const PhysicalDiskEntry& disk : map.disks) {
    const JsonObject line = {{"kind", "disk"},
                             {"ordinal", disk.ordinal},
                             {"model", disk.model},
                             {"sectors", disk.sector_count},
                             {"letters", disk.volume_letters},
                             {"device", disk.device}};
    std::printf("%s\n", JsonLine(line).c_str());
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
