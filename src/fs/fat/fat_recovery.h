#pragma once
// The FAT search of the deleted-files mode: the folders searched below the selected folder (live
// and deleted, to any depth, each with all its clusters), the deleted files in them, and where
// each file's bytes lie.

#include <cstdint>
#include <string>
#include <vector>

#include "fs/fat/fat_directory.h"
#include "fs/fat/fat_volume.h"
#include "fs/file_system.h"
#include "run/run_context.h"

namespace kestrel {

// One file found by the search, in the order found.
struct DeletedEntry {
  uint32_t ordinal = 0;
  std::string name;          // long name without its extension, or the short name ('_' for 0xE5)
  std::string extension;     // long-name extension, or the short extension
  std::string name_as_read;  // the whole long name, or "NAME.EXT", as the entries give it
  std::string folder;        // the folder inside the volume, "/" or "/A/B"
  uint8_t attributes = 0;
  uint16_t cluster_high = 0;
  uint16_t cluster_low = 0;
  uint32_t size_bytes = 0;
  bool entry_live = false;  // not marked deleted (inside a deleted or recycled folder)
  FatEntryTimes times;
};

// Where the search starts. `start_cluster` is 0 for the FAT16 root (its fixed region) and the
// root cluster for the FAT32 root.
struct SearchStart {
  uint32_t start_cluster = 0;
  bool root_selected = false;
  uint32_t recycled_cluster = 0;
  std::string folder_path = "/";  // the selected folder, for the entries' folder paths
};

enum class SearchEnd { kDone, kCancelled, kOutOfMemory };

// Walks the selected folder and every folder below it, live or deleted, each searched once: a
// live folder through its FAT chain, a deleted one from its first cluster through the free
// clusters that follow while they hold directory entries. In a live folder the deleted files
// count, in a deleted (or recycled) folder every file. When the root is selected, a last pass
// over the data region finds deleted folders whose parent entry is gone. Shows "Memory
// allocation error" when memory runs out.
SearchEnd SearchDeletedEntries(FatVolume& volume, RunContext& run, const SearchStart& start,
                               std::vector<DeletedEntry>* entries);

// The name a file or folder found by the search is written under: the restored name
// (RestoredFileName) made safe by Utf8FileName, or, when restoring leaves nothing but dots and
// spaces, the name as read made safe, so that no entry loses its name.
std::string FatWrittenName(const std::string& name, const std::string& extension,
                           const std::string& name_as_read);

// Whether an entry's 11 name bytes are a FAT short name (the first byte may be the deleted mark).
bool IsLegalShortName(const uint8_t* name11);

// Where a file's bytes lie. A deleted file starts at its first cluster and goes on through the
// free clusters after it, passing over the clusters other files hold, until its size is reached.
// A file whose first cluster now belongs to another file is overwritten. A live entry (inside a
// recycled folder) follows its FAT chain.
struct FilePlan {
  FileState state = FileState::kIntact;
  std::vector<uint32_t> clusters;
  uint64_t bytes = 0;  // what can be read: the size, or less when the data region ends first
  bool valid = true;   // false: the entry names no file the volume could hold
};

FilePlan PlanFileClusters(FatVolume& volume, const DeletedEntry& entry);

uint32_t FirstClusterOf(const DeletedEntry& entry, FatType type);

}  // namespace kestrel
