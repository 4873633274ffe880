// libFuzzer target: the FAT boot sector, directory entries and long names, the live folder
// listing, and the deleted-entry search, over an arbitrary volume image.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fs/fat/fat_directory.h"
#include "fs/fat/fat_folders.h"
#include "fs/fat/fat_recovery.h"
#include "fs/fat/fat_volume.h"
#include "platform/testing/source_doubles.h"
#include "run/run_context.h"
#include "run/silent_run_ui.h"
#include "sources/scan_source.h"

namespace {

using namespace kestrel;

void ParseEntries(const uint8_t* data, size_t size) {
  std::vector<uint8_t> directory(data, data + size - size % kDirEntryBytes);
  for (FatType type : {FatType::kFat16, FatType::kFat32}) LiveSubdirectories(directory, type);
  LongNameCollector long_name;
  for (size_t at = 0; at + kDirEntryBytes <= directory.size(); at += kDirEntryBytes) {
    const DirEntry entry = ParseDirEntry(&directory[at]);
    if (entry.IsLongName()) {
      long_name.Add(&directory[at]);
    } else {
      ShortNameText(entry);
      long_name.Assemble();
      long_name.MatchesShortName(&directory[at]);
      long_name.Clear();
    }
  }
}

void SearchVolume(MemorySource& source) {
  FatVolumeInfo info;
  if (!IdentifyFatVolume(source, &info) || !FatGeometryUsable(info)) return;
  std::vector<std::string> folders = ListFatFolders(source, "/");
  FatVolume volume(source, info);
  SilentRunUi ui;
  RunContext run(ui);
  const std::string first = folders.empty() ? "/" : "/" + folders.front();
  for (const std::string& path : {std::string("/"), first}) {
    SelectedFolder folder = ResolveSelectedFolder(volume, path);
    if (folder.resolution != FolderResolution::kFound) continue;
    SearchStart start;
    start.root_selected = folder.depth == 0 && folder.cluster == 0;
    start.start_cluster = start.root_selected && info.fat_type == FatType::kFat32
                              ? info.root_cluster
                              : folder.cluster;
    start.recycled_cluster = folder.recycled_cluster;
    std::vector<DeletedEntry> entries;
    SearchDeletedEntries(volume, run, start, &entries);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> boot(512, 0);
  std::copy(data, data + std::min<size_t>(size, boot.size()), boot.begin());
  FatVolumeInfo info;
  ParseFatBootSector(boot.data(), &info);
  ParseEntries(data, size);
  MemorySource source(std::vector<uint8_t>(data, data + size));
  SearchVolume(source);
  return 0;
}
