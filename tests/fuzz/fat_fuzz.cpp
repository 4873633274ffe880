// libFuzzer target: the FAT boot sector, directory entries and long names, any bytes as a name to
// write, and the volume (FAT or exFAT) through the FileSystem interface (folders, deleted files
// and their content, free space), over an arbitrary volume image.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fs/exfat/exfat_boot.h"
#include "fs/exfat/exfat_entry_set.h"
#include "fs/fat/fat_directory.h"
#include "fs/fat/fat_volume.h"
#include "fs/file_name.h"
#include "fs/probe.h"
#include "platform/testing/source_doubles.h"
#include "run/run_context.h"
#include "run/silent_run_ui.h"
#include "sources/scan_source.h"

namespace {

using namespace kestrel;

constexpr size_t kMaxFiles = 64;
constexpr uint64_t kMaxContentBytes = 1 << 20;

void Drain(FileContent& content) {
  std::vector<uint8_t> piece(64 * 1024);
  content.Runs();
  content.StoredBytes();
  for (uint64_t total = 0; !content.at_end() && total < kMaxContentBytes;) {
    if (content.SkipHole() != 0) continue;
    const int64_t got = content.ReadNext(piece.data(), piece.size());
    if (got <= 0) break;
    total += static_cast<uint64_t>(got);
  }
}

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

// Every File entry of the input with the entries after it, as an exFAT entry set.
void ParseExfatSets(const uint8_t* data, size_t size) {
  std::vector<ExfatRawEntry> set;
  for (size_t at = 0; at + kExfatEntryBytes <= size; at += kExfatEntryBytes) {
    if (!IsFileEntry(data[at])) continue;
    set.clear();
    for (size_t i = 0; i <= data[at + 1] && at + (i + 1) * kExfatEntryBytes <= size; ++i) {
      set.emplace_back();
      std::copy_n(data + at + i * kExfatEntryBytes, kExfatEntryBytes, set.back().begin());
    }
    ParseExfatEntrySet(set);
  }
}

// Goes over the volume as a run does: the probe table, the folders, the deleted files below
// the root and below its first folder with their content, and the free-space map.
void SearchVolume(MemorySource& source) {
  ProbeResult probed = OpenFileSystem(source);
  if (!probed.file_system) return;
  FileSystem& file_system = *probed.file_system;
  std::vector<std::string> folders = file_system.Folders("/", nullptr);
  SilentRunUi ui;
  RunContext run(ui);
  const std::string first = folders.empty() ? "/" : "/" + folders.front();
  for (const std::string& path : {std::string("/"), first}) {
    std::vector<DeletedFile> files;
    if (file_system.FindDeleted(path, run, &files) != SearchResult::kDone) continue;
    for (size_t i = 0; i < std::min<size_t>(files.size(), kMaxFiles); ++i) {
      if (std::unique_ptr<FileContent> content = file_system.OpenContent(files[i])) Drain(*content);
    }
  }
  std::unique_ptr<FreeSpaceMap> map;
  if (file_system.OpenFreeSpace(&map) != FreeSpaceResult::kOk) return;
  SectorRun free_run;
  for (uint64_t from = 0, n = 0; n < kMaxFiles && map->NextRun(from, &free_run); ++n) {
    from = free_run.end();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> boot(512, 0);
  std::copy(data, data + std::min<size_t>(size, boot.size()), boot.begin());
  FatVolumeInfo info;
  ParseFatBootSector(boot.data(), &info);
  ParseExfatBootSector(boot.data());
  ParseEntries(data, size);
  Utf8FileName(std::string_view(reinterpret_cast<const char*>(data), size));
  ParseExfatSets(data, size);
  MemorySource source(std::vector<uint8_t>(data, data + size));
  SearchVolume(source);
  return 0;
}
