#include "disk/fat_recovery.h"

#include <algorithm>
#include <array>
#include <new>

#include "disk/fat_directory.h"
#include "disk/scan_source.h"
#include "run/messages.h"

namespace kestrel {
namespace {

constexpr const char* kSearchingText = "Searching deleted files...";
// The descent below the bound ends after this many levels (a damaged tree may loop).
constexpr size_t kMaxDescentLevels = 4096;
// Discovered folders searched at most: far more than a card holds, few enough to bound the
// memory a damaged volume full of folder-like clusters could claim.
constexpr size_t kMaxDiscoveredClusters = 65536;

bool IsRootParent(const FatVolumeInfo& info, uint32_t parent) {
  return parent == 0 || (info.fat_type == FatType::kFat32 && parent == info.root_cluster);
}

bool HasDotEntries(const uint8_t* sector) {
  static constexpr uint8_t kDot[6] = {'.', ' ', ' ', ' ', ' ', ' '};
  static constexpr uint8_t kDotDot[7] = {'.', '.', ' ', ' ', ' ', ' ', ' '};
  return std::equal(kDot, kDot + 6, sector) &&
         std::equal(kDotDot, kDotDot + 7, sector + kDirEntryBytes);
}

// A folder entry that raises the bound: a directory that is not a dot entry and not the hidden
// system folder ("System Volume Information").
bool RaisesBound(const DirEntry& entry) {
  if (!entry.IsDirectory() || entry.IsDot()) return false;
  const uint8_t system_hidden = fat_attr::kSystem | fat_attr::kHidden;
  if ((entry.attributes & system_hidden) == system_hidden) {
    std::string name = ShortNameText(entry);
    if (name.find("SYSTEM") != std::string::npos) return false;
  }
  return true;
}

// The largest first cluster among the folder entries of a directory block, and the last one.
struct FolderClusters {
  uint32_t largest = 0;
  uint32_t last = 0;
};

FolderClusters FolderClustersIn(const uint8_t* data, size_t length, FatType type) {
  FolderClusters found;
  for (size_t at = 0; at + kDirEntryBytes <= length; at += kDirEntryBytes) {
    if (IsAllZeroEntry(data + at)) break;
    const DirEntry entry = ParseDirEntry(data + at);
    if (!RaisesBound(entry)) continue;
    const uint32_t cluster = entry.FirstCluster(type);
    found.largest = std::max(found.largest, cluster);
    found.last = cluster;
  }
  return found;
}

// One block of the selected folder: the FAT16 root region (cluster 0) or one own cluster.
bool ReadOwnBlock(FatVolume& volume, uint32_t cluster, std::vector<uint8_t>* block) {
  if (cluster == 0) return ReadDirectory(volume, RootDirectory(volume.info()), block);
  block->assign(volume.info().BytesPerCluster(), 0);
  return volume.ReadCluster(cluster, block->data());
}

// Walks the entries of one directory block and appends the deleted ones.
class EntryScanner {
 public:
  EntryScanner(RunContext& run, std::vector<DeletedEntry>* entries)
      : run_(run), entries_(entries) {}

  // `own`: a block of the selected folder itself (only deleted entries count); otherwise a
  // discovered folder, whose entries all count. A long name may continue from one own block to
  // the next. False when cancelled.
  bool Scan(const uint8_t* data, size_t length, bool own, bool root_selected);

 private:
  void TakeShortEntry(const uint8_t* bytes, bool own, uint16_t dot_high);

  RunContext& run_;
  std::vector<DeletedEntry>* entries_;
  LongNameCollector long_name_;
  uint32_t next_ordinal_ = 0;
};

bool ExtensionCharactersValid(const std::array<uint8_t, 3>& ext) {
  auto letter = [](uint8_t b) { return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z'); };
  auto small = [](uint8_t b) { return b <= 9; };
  if (!letter(ext[0]) && !small(ext[0])) return false;
  for (int i = 1; i < 3; ++i) {
    if (!letter(ext[i]) && !small(ext[i]) && ext[i] != '3') return false;
  }
  return true;
}

bool EntryScanner::Scan(const uint8_t* data, size_t length, bool own, bool root_selected) {
  // Below a selected folder (not the root), a discovered cluster starts with its dot entries;
  // the "." entry's high half stands in for entries that lost theirs.
  const bool below_selected_folder = !own && !root_selected;
  uint16_t dot_high = 0;
  if (below_selected_folder && length >= kDirEntryBytes) {
    dot_high = ParseDirEntry(data).cluster_high;
  }
  if (!own) long_name_.Clear();
  for (size_t at = 0; at + kDirEntryBytes <= length; at += kDirEntryBytes) {
    if (run_.PollCancel()) return false;
    run_.PumpMessages();
    const uint8_t* bytes = data + at;
    if (IsAllZeroEntry(bytes)) break;
    if (below_selected_folder && at < 2 * kDirEntryBytes) continue;
    const DirEntry entry = ParseDirEntry(bytes);
    if (entry.IsLongName()) {
      if (!own || entry.IsDeleted()) long_name_.Add(bytes);
      continue;
    }
    if (entry.IsDirectory() || entry.IsVolumeLabel() || bytes[0] == 0) {
      long_name_.Clear();
      continue;
    }
    TakeShortEntry(bytes, own, dot_high);
    long_name_.Clear();
  }
  return true;
}

void EntryScanner::TakeShortEntry(const uint8_t* bytes, bool own, uint16_t dot_high) {
  const DirEntry entry = ParseDirEntry(bytes);
  if (entry.IsDot()) return;
  std::string long_name;
  if (long_name_.pending()) {
    // A long name belongs to a file only when its short entry carries the archive bit.
    if ((entry.attributes & fat_attr::kArchive) == 0) return;
    long_name = long_name_.Assemble();
  }
  if (own && !entry.IsDeleted()) return;
  if (!ExtensionCharactersValid(entry.extension)) return;

  DeletedEntry found;
  if (!long_name.empty()) {
    // ".profile" is a name, not an extension.
    const size_t dot = long_name.find_last_of('.');
    const bool has_extension = dot != std::string::npos && dot != 0;
    found.name = has_extension ? long_name.substr(0, dot) : long_name;
    found.extension = has_extension ? long_name.substr(dot + 1) : "";
  } else {
    std::array<uint8_t, 8> name = entry.name;
    if (name[0] == kDeletedMark) name[0] = '_';
    found.name = ShortNamePart(name.data(), name.size());
    found.extension = ShortNamePart(entry.extension.data(), entry.extension.size());
  }
  if (long_name.empty() && found.name.empty() && entry.size == 0) return;
  found.ordinal = next_ordinal_++;
  found.attributes = entry.attributes;
  found.cluster_high = entry.cluster_high;
  // Files lie near their folder: a discovered entry without a high half takes its folder's.
  if (found.cluster_high == 0 && dot_high != 0) found.cluster_high = dot_high;
  found.cluster_low = entry.cluster_low;
  found.size_bytes = entry.size;
  entries_->push_back(std::move(found));
}

}  // namespace

void DirectoryClusterList::Add(uint32_t cluster) {
  if (members_.insert(cluster).second) clusters_.push_back(cluster);
}

void CollectOwnClusters(FatVolume& volume, const SearchStart& start, DirectoryClusterList* list) {
  if (start.start_cluster == 0) return;  // the FAT16 root region has no clusters
  const size_t max_clusters =
      std::max<size_t>(100, kMaxDirectoryBytes / volume.info().BytesPerCluster());
  for (uint32_t cluster : volume.Chain(start.start_cluster, max_clusters)) list->Add(cluster);
  list->own_count = list->clusters().size();
}

uint32_t DiscoveryBound(FatVolume& volume, const SearchStart& start,
                        const DirectoryClusterList& own) {
  const FatVolumeInfo& info = volume.info();
  uint32_t bound = 0;
  std::vector<uint8_t> block;
  std::vector<uint32_t> own_blocks(own.clusters().begin(),
                                   own.clusters().begin() + static_cast<long>(own.own_count));
  if (start.start_cluster == 0) own_blocks = {0};
  for (uint32_t cluster : own_blocks) {
    if (!ReadOwnBlock(volume, cluster, &block)) continue;
    bound = std::max(bound, FolderClustersIn(block.data(), block.size(), info.fat_type).largest);
  }
  // Down the last subfolder of each level from the bound.
  std::unordered_set<uint32_t> visited;
  block.assign(info.BytesPerCluster(), 0);
  for (uint32_t folder = bound; info.IsDataCluster(folder) && visited.insert(folder).second &&
                                visited.size() <= kMaxDescentLevels;) {
    if (!volume.ReadCluster(folder, block.data())) break;
    const FolderClusters inside = FolderClustersIn(block.data(), block.size(), info.fat_type);
    if (inside.last == 0) break;
    bound = std::max(bound, inside.last);
    folder = inside.last;
  }
  return std::min(bound, volume.LastReadableCluster());
}

bool DiscoveryRules::Take(const uint8_t* first_sector, const DirectoryClusterList& list) {
  if (!HasDotEntries(first_sector)) return false;
  const DirEntry dot_dot = ParseDirEntry(first_sector + kDirEntryBytes);
  uint32_t parent = dot_dot.FirstCluster(info_.fat_type);
  if (IsRootParent(info_, parent)) parent = 0;
  const uint8_t third = first_sector[2 * kDirEntryBytes];
  const bool live_content = third != '.' && third != kDeletedMark;
  const bool below_recycled = start_.recycled_cluster != 0 && parent == start_.recycled_cluster;
  // A live folder is only searched when it lies below a folder that is searched.
  if (live_content && !below_recycled && !list.Contains(parent)) return false;
  if (start_.root_selected && parent == 0) return true;
  if (parent != 0 && parent == start_.start_cluster && !start_child_taken_) {
    start_child_taken_ = true;
    return true;
  }
  if (below_recycled) return true;
  return parent != 0 && list.Contains(parent);
}

bool CollectDirectoryClusters(FatVolume& volume, RunContext& run, const SearchStart& start,
                              DirectoryClusterList* list) {
  CollectOwnClusters(volume, start, list);
  const uint32_t bound = DiscoveryBound(volume, start, *list);
  if (bound == 0 || bound == start.start_cluster) return true;

  run.ResetProgressBar();
  DiscoveryRules rules(volume.info(), start);
  std::array<uint8_t, kSectorBytes> sector{};
  const uint32_t first = start.start_cluster == 0 ? 2 : start.start_cluster + 1;
  for (uint64_t j = first; j <= bound; ++j) {
    run.ShowPercent(static_cast<int>(j * 100 / bound));
    if (run.PollCancel()) return false;
    run.PumpMessages();
    const uint32_t cluster = static_cast<uint32_t>(j);
    if (list->Contains(cluster)) continue;
    if (!volume.ReadClusterFirstSector(cluster, sector.data())) continue;
    if (rules.Take(sector.data(), *list)) list->Add(cluster);
    if (list->clusters().size() - list->own_count >= kMaxDiscoveredClusters) break;
  }
  return true;
}

SearchEnd SearchDeletedEntries(FatVolume& volume, RunContext& run, const SearchStart& start,
                               std::vector<DeletedEntry>* entries) {
  run.ShowStatusText(kSearchingText);
  DirectoryClusterList list;
  if (!CollectDirectoryClusters(volume, run, start, &list)) return SearchEnd::kCancelled;
  try {
    EntryScanner scanner(run, entries);
    std::vector<uint8_t> block;
    if (start.start_cluster == 0 && ReadDirectory(volume, RootDirectory(volume.info()), &block)) {
      if (!scanner.Scan(block.data(), block.size(), true, start.root_selected)) {
        return SearchEnd::kCancelled;
      }
    }
    block.assign(volume.info().BytesPerCluster(), 0);
    const std::vector<uint32_t>& clusters = list.clusters();
    for (size_t i = 0; i < clusters.size(); ++i) {
      if (!volume.ReadCluster(clusters[i], block.data())) continue;
      const bool own = i < list.own_count;
      if (!scanner.Scan(block.data(), block.size(), own, start.root_selected)) {
        return SearchEnd::kCancelled;
      }
    }
  } catch (const std::bad_alloc&) {
    run.ShowMessage(msg::kMemoryAllocationError, MessageIcon::kStop);
    return SearchEnd::kOutOfMemory;
  }
  return SearchEnd::kDone;
}

}  // namespace kestrel
