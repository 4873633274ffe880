#include "disk/fat_recovery.h"

#include <algorithm>
#include <array>
#include <deque>
#include <new>
#include <string_view>
#include <unordered_set>

#include "disk/fat_directory.h"
#include "disk/recovered_output.h"
#include "disk/scan_source.h"
#include "run/messages.h"

namespace kestrel {
namespace {

constexpr const char* kSearchingText = "Searching deleted files...";
// Folders searched at most: far more than a card holds, few enough to bound the memory a
// damaged volume full of folder-like clusters could claim.
constexpr size_t kMaxFolders = 65536;

bool HasDotEntries(const uint8_t* sector) {
  static constexpr uint8_t kDot[11] = {'.', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  static constexpr uint8_t kDotDot[11] = {'.', '.', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  return std::equal(kDot, kDot + 11, sector) &&
         std::equal(kDotDot, kDotDot + 11, sector + kDirEntryBytes) &&
         (sector[11] & fat_attr::kDirectory) != 0;
}

// Whether a block read from a deleted folder's area still holds directory entries: every entry
// up to the end mark is a long-name piece or a short entry with a legal name.
bool HoldsDirectoryEntries(const uint8_t* data, size_t length) {
  for (size_t at = 0; at + kDirEntryBytes <= length; at += kDirEntryBytes) {
    const uint8_t* bytes = data + at;
    if (bytes[0] == 0) return at > 0 || IsAllZeroEntry(bytes);
    if (bytes[11] == fat_attr::kLongName) continue;
    if ((bytes[11] & 0xC0) != 0) return false;
    if (bytes[0] == '.' && at < 2 * kDirEntryBytes) continue;
    if (!IsLegalShortName(bytes)) return false;
  }
  return true;
}

bool HasEndMark(const uint8_t* data, size_t length) {
  for (size_t at = 0; at + kDirEntryBytes <= length; at += kDirEntryBytes) {
    if (data[at] == 0) return true;
  }
  return false;
}

// Which files of a folder count: the deleted ones of a live folder, every one of a deleted or
// recycled folder (its entries were never marked).
enum class Content { kDeletedFiles, kEveryFile };

struct Folder {
  DirectoryLocation where;
  bool deleted = false;  // read through the free clusters after its first one
  Content content = Content::kDeletedFiles;
  std::string path;  // "/" or "/A/B"
  uint16_t dot_high = 0;
};

std::string ChildPath(const std::string& parent, const std::string& name) {
  return parent == "/" ? "/" + name : parent + "/" + name;
}

std::string NormalFolderPath(const std::string& path) {
  std::string out;
  std::string part;
  for (char c : path + "/") {
    if (c == '/' || c == '\\') {
      if (!part.empty() && part != ".") out += "/" + part;
      part.clear();
    } else {
      part += c;
    }
  }
  return out.empty() ? "/" : out;
}

// A name as the folder's entries give it: the long name when its pieces belong to the short
// entry, else the short name with '_' for a lost first letter.
struct EntryName {
  std::string name;
  std::string extension;
  bool long_name = false;
};

EntryName NameOf(const uint8_t* bytes, const DirEntry& entry, const LongNameCollector& pieces) {
  EntryName out;
  if (pieces.pending() && pieces.MatchesShortName(bytes, entry.IsDeleted())) {
    const std::string long_name = pieces.Assemble();
    if (!long_name.empty()) {
      // ".profile" is a name, not an extension.
      const size_t dot = long_name.find_last_of('.');
      const bool has_extension = dot != std::string::npos && dot != 0;
      out.name = has_extension ? long_name.substr(0, dot) : long_name;
      out.extension = has_extension ? long_name.substr(dot + 1) : "";
      out.long_name = true;
      return out;
    }
  }
  std::array<uint8_t, 8> name = entry.name;
  if (name[0] == kDeletedMark) name[0] = '_';
  if (name[0] == 0x05) name[0] = kDeletedMark;  // a name really starting with 0xE5
  out.name = ShortNamePart(name.data(), name.size());
  out.extension = ShortNamePart(entry.extension.data(), entry.extension.size());
  return out;
}

class TreeSearch {
 public:
  TreeSearch(FatVolume& volume, RunContext& run, const SearchStart& start,
             std::vector<DeletedEntry>* entries)
      : volume_(volume), info_(volume.info()), run_(run), start_(start), entries_(entries) {}

  // False when cancelled.
  bool Run();

 private:
  bool Search(const Folder& folder);
  bool ReadLiveFolder(const Folder& folder, std::vector<uint8_t>* bytes);
  bool ReadDeletedFolder(uint32_t first, std::vector<uint8_t>* bytes);
  bool ScanEntries(const Folder& folder, const std::vector<uint8_t>& bytes);
  void AddSubfolder(const Folder& parent, const DirEntry& entry, const EntryName& name);
  void AddFile(const Folder& parent, const DirEntry& entry, const EntryName& name);
  bool OrphanPass();
  bool Claim(uint32_t cluster) { return read_clusters_.insert(cluster).second; }

  FatVolume& volume_;
  const FatVolumeInfo& info_;
  RunContext& run_;
  const SearchStart& start_;
  std::vector<DeletedEntry>* entries_;
  std::deque<Folder> queue_;
  std::unordered_set<uint32_t> read_clusters_;
  size_t folders_queued_ = 0;
  uint32_t next_ordinal_ = 0;
};

bool TreeSearch::ReadLiveFolder(const Folder& folder, std::vector<uint8_t>* bytes) {
  if (folder.where.fixed_root) return ReadDirectory(volume_, folder.where, bytes);
  bytes->clear();
  const size_t cluster_bytes = info_.BytesPerCluster();
  const size_t max_clusters = std::max<size_t>(1, kMaxDirectoryBytes / cluster_bytes);
  for (uint32_t cluster : volume_.Chain(folder.where.first_cluster, max_clusters)) {
    if (!Claim(cluster)) break;  // shared with a folder already searched
    const size_t at = bytes->size();
    bytes->resize(at + cluster_bytes);
    if (!volume_.ReadCluster(cluster, bytes->data() + at)) {
      bytes->resize(at);
      break;
    }
  }
  return !bytes->empty();
}

bool TreeSearch::ReadDeletedFolder(uint32_t first, std::vector<uint8_t>* bytes) {
  bytes->clear();
  const size_t cluster_bytes = info_.BytesPerCluster();
  std::vector<uint8_t> block(cluster_bytes);
  if (!volume_.IsFree(first) || read_clusters_.count(first) != 0) return false;
  if (!volume_.ReadCluster(first, block.data()) || !HasDotEntries(block.data())) return false;
  Claim(first);
  bytes->insert(bytes->end(), block.begin(), block.end());
  for (uint32_t cluster = first + 1;
       cluster <= info_.LastCluster() && bytes->size() + cluster_bytes <= kMaxDirectoryBytes &&
       !HasEndMark(block.data(), block.size());
       ++cluster) {
    if (!volume_.IsFree(cluster)) continue;  // held by a live file or folder
    if (read_clusters_.count(cluster) != 0) break;
    if (!volume_.ReadCluster(cluster, block.data())) break;
    if (HasDotEntries(block.data()) || !HoldsDirectoryEntries(block.data(), block.size())) break;
    Claim(cluster);
    bytes->insert(bytes->end(), block.begin(), block.end());
  }
  return true;
}

void TreeSearch::AddSubfolder(const Folder& parent, const DirEntry& entry, const EntryName& name) {
  const uint32_t first = entry.FirstCluster(info_.fat_type);
  if (!info_.IsDataCluster(first) || folders_queued_ >= kMaxFolders) return;
  Folder child;
  child.where = {false, first};
  child.path = ChildPath(parent.path, RestoredFileName(name.name, name.extension));
  // A folder whose clusters are free was deleted, whatever its own entry says.
  child.deleted = entry.IsDeleted() || parent.deleted || volume_.IsFree(first);
  const bool in_bin =
      start_.recycled_cluster != 0 && parent.where.first_cluster == start_.recycled_cluster;
  child.content = child.deleted || in_bin || parent.content == Content::kEveryFile
                      ? Content::kEveryFile
                      : Content::kDeletedFiles;
  ++folders_queued_;
  queue_.push_back(std::move(child));
}

void TreeSearch::AddFile(const Folder& parent, const DirEntry& entry, const EntryName& name) {
  if (parent.content == Content::kDeletedFiles && !entry.IsDeleted()) return;
  if (!name.long_name && name.name.empty() && entry.size == 0) return;
  DeletedEntry found;
  found.ordinal = next_ordinal_;
  found.name = name.name;
  found.extension = name.extension;
  found.folder = parent.path;
  found.attributes = entry.attributes;
  found.cluster_high = entry.cluster_high;
  // Files lie near their folder: an entry of a deleted folder without a high half takes its
  // folder's.
  if (found.cluster_high == 0 && parent.deleted) found.cluster_high = parent.dot_high;
  found.cluster_low = entry.cluster_low;
  found.size_bytes = entry.size;
  found.entry_live = !entry.IsDeleted();
  // A file with bytes must start inside the data region.
  if (found.size_bytes != 0 && !info_.IsDataCluster(FirstClusterOf(found, info_.fat_type))) {
    return;
  }
  ++next_ordinal_;
  entries_->push_back(std::move(found));
}

bool TreeSearch::ScanEntries(const Folder& folder, const std::vector<uint8_t>& bytes) {
  LongNameCollector pieces;
  for (size_t at = 0; at + kDirEntryBytes <= bytes.size(); at += kDirEntryBytes) {
    if (run_.PollCancel()) return false;
    run_.PumpMessages();
    const uint8_t* raw = bytes.data() + at;
    if (raw[0] == 0) break;  // the end of the folder's entries
    const DirEntry entry = ParseDirEntry(raw);
    if (entry.IsLongName()) {
      pieces.Add(raw);
      continue;
    }
    if (entry.IsDot() || entry.IsVolumeLabel() || !IsLegalShortName(raw) ||
        (entry.attributes & 0xC0) != 0) {
      pieces.Clear();
      continue;
    }
    const EntryName name = NameOf(raw, entry, pieces);
    pieces.Clear();
    if (entry.IsDirectory()) {
      AddSubfolder(folder, entry, name);
    } else {
      AddFile(folder, entry, name);
    }
  }
  return true;
}

bool TreeSearch::Search(const Folder& folder) {
  std::vector<uint8_t> bytes;
  const bool read = folder.deleted ? ReadDeletedFolder(folder.where.first_cluster, &bytes)
                                   : ReadLiveFolder(folder, &bytes);
  if (!read) return true;
  Folder searched = folder;
  if (folder.deleted && bytes.size() >= kDirEntryBytes) {
    searched.dot_high = ParseDirEntry(bytes.data()).cluster_high;
  }
  return ScanEntries(searched, bytes);
}

bool TreeSearch::OrphanPass() {
  const uint32_t last = volume_.LastReadableCluster();
  std::array<uint8_t, kSectorBytes> sector{};
  run_.ResetProgressBar();
  for (uint64_t j = 2; j <= last; ++j) {
    run_.ShowPercent(static_cast<int>(j * 100 / last));
    if (run_.PollCancel()) return false;
    run_.PumpMessages();
    const uint32_t cluster = static_cast<uint32_t>(j);
    if (read_clusters_.count(cluster) != 0 || !volume_.IsFree(cluster)) continue;
    if (!volume_.ReadClusterFirstSector(cluster, sector.data()) || !HasDotEntries(sector.data())) {
      continue;
    }
    if (folders_queued_ >= kMaxFolders) break;
    Folder orphan;
    orphan.where = {false, cluster};
    orphan.deleted = true;
    orphan.content = Content::kEveryFile;
    orphan.path = "/KES_FOLDER" + std::to_string(cluster);
    ++folders_queued_;
    queue_.push_back(std::move(orphan));
    while (!queue_.empty()) {
      const Folder next = std::move(queue_.front());
      queue_.pop_front();
      if (!Search(next)) return false;
    }
  }
  return true;
}

bool TreeSearch::Run() {
  Folder selected;
  selected.where = start_.start_cluster == 0 ? RootDirectory(info_)
                                             : DirectoryLocation{false, start_.start_cluster};
  selected.path = NormalFolderPath(start_.folder_path);
  queue_.push_back(selected);
  if (!start_.root_selected && start_.recycled_cluster != 0) {
    Folder bin;
    bin.where = {false, start_.recycled_cluster};
    bin.path = "/RECYCLED";
    queue_.push_back(bin);
  }
  while (!queue_.empty()) {
    const Folder next = std::move(queue_.front());
    queue_.pop_front();
    if (!Search(next)) return false;
  }
  return !start_.root_selected || OrphanPass();
}

bool IsForbiddenNameByte(uint8_t b) {
  static constexpr std::string_view kForbidden = "\"*+,./:;<=>?[\\]|";
  return b < 0x20 || b == 0x7F || kForbidden.find(static_cast<char>(b)) != std::string_view::npos;
}

}  // namespace

bool IsLegalShortName(const uint8_t* name11) {
  if (name11[0] == ' ') return false;
  for (int i = 0; i < 11; ++i) {
    const uint8_t b = name11[i];
    if (i == 0 && (b == kDeletedMark || b == 0x05)) continue;
    if (IsForbiddenNameByte(b)) return false;
  }
  return true;
}

SearchEnd SearchDeletedEntries(FatVolume& volume, RunContext& run, const SearchStart& start,
                               std::vector<DeletedEntry>* entries) {
  run.ShowStatusText(kSearchingText);
  try {
    TreeSearch search(volume, run, start, entries);
    if (!search.Run()) return SearchEnd::kCancelled;
  } catch (const std::bad_alloc&) {
    run.ShowMessage(msg::kMemoryAllocationError, MessageIcon::kStop);
    return SearchEnd::kOutOfMemory;
  }
  return SearchEnd::kDone;
}

}  // namespace kestrel
