#include "fs/fat/fat_recovery.h"

#include <algorithm>
#include <array>
#include <deque>
#include <map>
#include <new>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "fs/fat/fat_directory.h"
#include "fs/file_name.h"
#include "output/recovered_output.h"
#include "run/messages.h"
#include "sources/scan_source.h"

namespace kestrel {
namespace {

constexpr const char* kSearchingText = "Searching deleted files...";
// Folders searched at most: far more than a card holds, few enough to bound the memory a
// damaged volume full of folder-like clusters could claim.
constexpr size_t kMaxFolders = 65536;
// A deleted folder's later clusters are looked for past clusters that belong to nothing the
// search knows; this many such clusters in a row end the look.
constexpr uint32_t kMaxUnknownClusters = 2048;
// Subfolders met while a deleted folder is read are searched at once (their clusters and files
// are then known) down to this depth; deeper ones wait in the queue.
constexpr int kMaxNestedReads = 32;

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

// A later cluster of a deleted folder starts with an entry: a zeroed cluster holds nothing.
bool StartsWithEntry(const uint8_t* data, size_t length) {
  return length >= kDirEntryBytes && data[0] != 0 && HoldsDirectoryEntries(data, length);
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
  uint32_t id = 0;  // numbered when searched
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
  std::string as_read;
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
      out.as_read = long_name;
      out.long_name = true;
      return out;
    }
  }
  std::array<uint8_t, 8> name = entry.name;
  if (name[0] == kDeletedMark) name[0] = '_';
  if (name[0] == 0x05) name[0] = kDeletedMark;  // a name really starting with 0xE5
  out.name = ShortNamePart(name.data(), name.size());
  out.extension = ShortNamePart(entry.extension.data(), entry.extension.size());
  out.as_read = out.extension.empty() ? out.name : out.name + "." + out.extension;
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
  // Subfolders of a deleted folder not yet searched, by first cluster.
  using Pending = std::map<uint32_t, Folder>;

  bool Search(const Folder& folder);
  bool ReadLiveFolder(const Folder& folder, std::vector<uint8_t>* bytes);
  bool SearchDeletedFolder(const Folder& folder);
  bool ScanEntries(const Folder& folder, const uint8_t* bytes, size_t length,
                   LongNameCollector& pieces, Pending* pending);
  void AddSubfolder(const Folder& parent, const DirEntry& entry, const EntryName& name,
                    Pending* pending);
  void AddFile(const Folder& parent, const DirEntry& entry, const EntryName& name);
  void MarkFileData(const DeletedEntry& file, uint32_t owner);
  std::optional<uint32_t> OwnerOf(uint32_t cluster) const;
  bool Known(uint32_t cluster) const { return OwnerOf(cluster).has_value(); }
  bool Follows(uint32_t previous, const Folder& folder) const;
  bool FilesFollow(const uint8_t* block, size_t length, const Folder& folder);
  uint32_t Begin(Folder* folder);
  bool OrphanPass();
  bool Claim(uint32_t cluster, uint32_t owner) {
    return read_clusters_.emplace(cluster, owner).second;
  }

  FatVolume& volume_;
  const FatVolumeInfo& info_;
  RunContext& run_;
  const SearchStart& start_;
  std::vector<DeletedEntry>* entries_;
  std::deque<Folder> queue_;
  // Directory clusters read, and the folder they belong to.
  std::unordered_map<uint32_t, uint32_t> read_clusters_;
  // Clusters the deleted files found so far will be read from, as runs: first cluster ->
  // (last cluster, folder of the file).
  std::map<uint32_t, std::pair<uint32_t, uint32_t>> file_data_;
  std::vector<bool> finished_;  // by folder id: searched to its end
  int nested_reads_ = 0;
  size_t folders_queued_ = 0;
  uint32_t next_ordinal_ = 0;
};

bool TreeSearch::ReadLiveFolder(const Folder& folder, std::vector<uint8_t>* bytes) {
  if (folder.where.fixed_root) return ReadDirectory(volume_, folder.where, bytes);
  bytes->clear();
  const size_t cluster_bytes = info_.BytesPerCluster();
  const size_t max_clusters = std::max<size_t>(1, kMaxDirectoryBytes / cluster_bytes);
  // A damaged chain may run on into another folder: the directory ends at its end mark, and a
  // cluster that starts with dot entries is another folder's first one.
  for (uint32_t cluster : volume_.Chain(folder.where.first_cluster, max_clusters)) {
    if (read_clusters_.count(cluster) != 0) break;  // shared with a folder already searched
    const size_t at = bytes->size();
    bytes->resize(at + cluster_bytes);
    const uint8_t* read = bytes->data() + at;
    if (!volume_.ReadCluster(cluster, bytes->data() + at) || (at != 0 && HasDotEntries(read))) {
      bytes->resize(at);
      break;
    }
    Claim(cluster, folder.id);
    if (HasEndMark(read, cluster_bytes)) break;
  }
  return !bytes->empty();
}

// A deleted folder has no chain: its first cluster, then the free clusters after it that hold
// directory entries, until an end mark. Clusters on the way that belong to live files, to
// folders already read or to the deleted files found so far are passed over; a subfolder met on
// the way is searched at once, so that its own clusters and files are known before the look
// goes on.
bool TreeSearch::SearchDeletedFolder(const Folder& folder) {
  const uint32_t first = folder.where.first_cluster;
  const size_t cluster_bytes = info_.BytesPerCluster();
  std::vector<uint8_t> block(cluster_bytes);
  // Only a folder read already rules the first cluster out: a deleted file planned through it
  // was guessed wrong, the dot entries are not.
  if (!volume_.IsFree(first) || read_clusters_.count(first) != 0) return true;
  if (!volume_.ReadCluster(first, block.data()) || !HasDotEntries(block.data())) return true;
  Folder searched = folder;
  const uint32_t id = Begin(&searched);
  Claim(first, id);
  searched.dot_high = ParseDirEntry(block.data()).cluster_high;
  LongNameCollector pieces;
  Pending pending;
  if (!ScanEntries(searched, block.data(), block.size(), pieces, &pending)) return false;
  size_t read = cluster_bytes;
  uint32_t unknown = 0;
  uint32_t previous = first;  // the last free cluster passed
  ++nested_reads_;
  for (uint32_t cluster = first + 1;
       cluster <= info_.LastCluster() && read + cluster_bytes <= kMaxDirectoryBytes &&
       unknown < kMaxUnknownClusters && !HasEndMark(block.data(), block.size());
       ++cluster) {
    if (!volume_.IsFree(cluster)) continue;
    const uint32_t before = previous;
    previous = cluster;
    if (Known(cluster)) continue;
    std::vector<uint8_t> next(cluster_bytes);
    if (!volume_.ReadCluster(cluster, next.data())) break;
    if (HasDotEntries(next.data())) {
      // Another folder starts here: one of this folder's own is searched now.
      auto child = pending.find(cluster);
      if (child == pending.end() || nested_reads_ > kMaxNestedReads) {
        ++unknown;
        continue;
      }
      const Folder sub = std::move(child->second);
      pending.erase(child);
      if (!SearchDeletedFolder(sub)) {
        --nested_reads_;
        return false;
      }
      continue;
    }
    if (!StartsWithEntry(next.data(), next.size()) ||
        !(Follows(before, searched) || FilesFollow(next.data(), next.size(), searched))) {
      ++unknown;
      continue;
    }
    Claim(cluster, id);
    read += cluster_bytes;
    unknown = 0;
    block.swap(next);
    if (!ScanEntries(searched, block.data(), block.size(), pieces, &pending)) {
      --nested_reads_;
      return false;
    }
  }
  --nested_reads_;
  finished_[id] = true;
  for (auto& [cluster, sub] : pending) queue_.push_back(std::move(sub));
  return true;
}

uint32_t TreeSearch::Begin(Folder* folder) {
  folder->id = static_cast<uint32_t>(finished_.size());
  finished_.push_back(false);
  return folder->id;
}

std::optional<uint32_t> TreeSearch::OwnerOf(uint32_t cluster) const {
  if (auto read = read_clusters_.find(cluster); read != read_clusters_.end()) return read->second;
  auto run = file_data_.upper_bound(cluster);
  if (run == file_data_.begin()) return std::nullopt;
  --run;
  if (cluster > run->second.first) return std::nullopt;
  return run->second.second;
}

// Whether a directory-looking cluster after `previous` (the free cluster before it) can be the
// next cluster of `folder`. A folder grows while its files are written, so its new cluster
// follows its own clusters or files; or those of a folder already searched to its end, whose
// writing had ended. After a folder still being read, or after data of nothing known, it
// belongs to another folder.
bool TreeSearch::Follows(uint32_t previous, const Folder& folder) const {
  const std::optional<uint32_t> owner = OwnerOf(previous);
  if (!owner) return false;
  return *owner == folder.id || finished_[*owner];
}

// The same test on the files a directory-looking cluster lists: a folder's files are written
// one after the other, so the first of them follows the folder's earlier files (a writer that
// grows the directory after writing the files puts the cluster itself after them).
bool TreeSearch::FilesFollow(const uint8_t* block, size_t length, const Folder& folder) {
  uint32_t lowest = 0;
  for (size_t at = 0; at + kDirEntryBytes <= length && block[at] != 0; at += kDirEntryBytes) {
    const DirEntry entry = ParseDirEntry(block + at);
    if (entry.IsLongName() || entry.IsDirectory() || entry.IsVolumeLabel() || entry.size == 0) {
      continue;
    }
    uint32_t first = entry.FirstCluster(info_.fat_type);
    if (first == entry.cluster_low && folder.dot_high != 0) {
      first |= uint32_t{folder.dot_high} << 16;
    }
    if (info_.IsDataCluster(first) && (lowest == 0 || first < lowest)) lowest = first;
  }
  // The free cluster before it, passing over clusters live files hold now.
  uint32_t previous = lowest;
  for (uint32_t steps = 0; previous > 2 && steps < kMaxUnknownClusters; ++steps) {
    --previous;
    if (volume_.IsFree(previous)) return Follows(previous, folder);
  }
  return false;
}

void TreeSearch::AddSubfolder(const Folder& parent, const DirEntry& entry, const EntryName& name,
                              Pending* pending) {
  const uint32_t first = entry.FirstCluster(info_.fat_type);
  if (!info_.IsDataCluster(first) || folders_queued_ >= kMaxFolders) return;
  Folder child;
  child.where = {false, first};
  child.path = ChildPath(parent.path, FatWrittenName(name.name, name.extension, name.as_read));
  // A folder whose clusters are free was deleted, whatever its own entry says.
  child.deleted = entry.IsDeleted() || parent.deleted || volume_.IsFree(first);
  const bool in_bin =
      start_.recycled_cluster != 0 && parent.where.first_cluster == start_.recycled_cluster;
  child.content = child.deleted || in_bin || parent.content == Content::kEveryFile
                      ? Content::kEveryFile
                      : Content::kDeletedFiles;
  ++folders_queued_;
  if (pending != nullptr && child.deleted) {
    pending->emplace(first, std::move(child));
  } else {
    queue_.push_back(std::move(child));
  }
}

void TreeSearch::AddFile(const Folder& parent, const DirEntry& entry, const EntryName& name) {
  if (parent.content == Content::kDeletedFiles && !entry.IsDeleted()) return;
  if (!name.long_name && name.name.empty() && entry.size == 0) return;
  DeletedEntry found;
  found.ordinal = next_ordinal_;
  found.name = name.name;
  found.extension = name.extension;
  found.name_as_read = name.as_read;
  found.folder = parent.path;
  found.attributes = entry.attributes;
  found.cluster_high = entry.cluster_high;
  // Files lie near their folder: an entry of a deleted folder without a high half takes its
  // folder's.
  if (found.cluster_high == 0 && parent.deleted) found.cluster_high = parent.dot_high;
  found.cluster_low = entry.cluster_low;
  found.size_bytes = entry.size;
  found.entry_live = !entry.IsDeleted();
  found.times = entry.times;
  // A file with bytes must start inside the data region.
  if (found.size_bytes != 0 && !info_.IsDataCluster(FirstClusterOf(found, info_.fat_type))) {
    return;
  }
  ++next_ordinal_;
  MarkFileData(found, parent.id);
  entries_->push_back(std::move(found));
}

// The clusters a deleted file will be read from: a deleted folder's later clusters are never
// looked for among them.
void TreeSearch::MarkFileData(const DeletedEntry& file, uint32_t owner) {
  if (file.size_bytes == 0) return;
  const FilePlan plan = PlanFileClusters(volume_, file);
  if (!plan.valid || plan.state == FileState::kOverwritten) return;
  for (size_t i = 0; i < plan.clusters.size();) {
    size_t end = i + 1;
    while (end < plan.clusters.size() && plan.clusters[end] == plan.clusters[end - 1] + 1) ++end;
    file_data_.emplace(plan.clusters[i], std::make_pair(plan.clusters[end - 1], owner));
    i = end;
  }
}

bool TreeSearch::ScanEntries(const Folder& folder, const uint8_t* bytes, size_t length,
                             LongNameCollector& pieces, Pending* pending) {
  for (size_t at = 0; at + kDirEntryBytes <= length; at += kDirEntryBytes) {
    if (run_.PollCancel()) return false;
    run_.PumpMessages();
    const uint8_t* raw = bytes + at;
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
      AddSubfolder(folder, entry, name, pending);
    } else {
      AddFile(folder, entry, name);
    }
  }
  return true;
}

bool TreeSearch::Search(const Folder& folder) {
  if (folder.deleted) return SearchDeletedFolder(folder);
  Folder searched = folder;
  Begin(&searched);
  std::vector<uint8_t> bytes;
  if (!ReadLiveFolder(searched, &bytes)) return true;
  LongNameCollector pieces;
  const bool done = ScanEntries(searched, bytes.data(), bytes.size(), pieces, nullptr);
  finished_[searched.id] = true;
  return done;
}

// The first sectors of the clusters the orphan pass looks at, read a block of clusters at a time:
// one read per cluster would cost a system call (and on a disk a request) for each of them.
class FirstSectorReader {
 public:
  explicit FirstSectorReader(FatVolume& volume)
      : volume_(volume),
        cluster_bytes_(volume.info().BytesPerCluster()),
        block_clusters_(std::max<uint32_t>(1, kBlockBytes / cluster_bytes_)),
        block_(size_t{block_clusters_} * cluster_bytes_) {}

  // The first sector of `cluster`, or null when it cannot be read.
  const uint8_t* Read(uint32_t cluster, uint32_t last) {
    if (cluster < first_ || cluster >= first_ + held_) Load(cluster, last);
    if (cluster < first_ || cluster >= first_ + held_) {
      return volume_.ReadClusterFirstSector(cluster, single_.data()) ? single_.data() : nullptr;
    }
    return block_.data() + size_t{cluster - first_} * cluster_bytes_;
  }

 private:
  static constexpr uint32_t kBlockBytes = 1 << 20;

  void Load(uint32_t cluster, uint32_t last) {
    const uint32_t count = std::min<uint32_t>(block_clusters_, last - cluster + 1);
    const uint64_t at = volume_.info().ClusterFirstSector(cluster) * kSectorBytes;
    first_ = cluster;
    // A block that cannot be read whole (a bad sector, the end of a cut image) is read a
    // cluster at a time.
    held_ =
        volume_.source().ReadExact(at, block_.data(), size_t{count} * cluster_bytes_) ? count : 0;
  }

  FatVolume& volume_;
  const uint32_t cluster_bytes_;
  const uint32_t block_clusters_;
  std::vector<uint8_t> block_;
  std::array<uint8_t, kSectorBytes> single_{};
  uint32_t first_ = 0;
  uint32_t held_ = 0;
};

bool TreeSearch::OrphanPass() {
  const uint32_t last = volume_.LastReadableCluster();
  FirstSectorReader reader(volume_);
  run_.ResetProgressBar();
  for (uint64_t j = 2; j <= last; ++j) {
    run_.ShowPercent(static_cast<int>(j * 100 / last));
    if (run_.PollCancel()) return false;
    run_.PumpMessages();
    const uint32_t cluster = static_cast<uint32_t>(j);
    if (read_clusters_.count(cluster) != 0 || !volume_.IsFree(cluster)) continue;
    const uint8_t* sector = reader.Read(cluster, last);
    if (sector == nullptr || !HasDotEntries(sector)) continue;
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

std::string FatWrittenName(const std::string& name, const std::string& extension,
                           const std::string& name_as_read) {
  const std::string restored = RestoredFileName(name, extension);
  const bool only_dots = restored.find_first_not_of(". ") == std::string::npos;
  return Utf8FileName(only_dots ? name_as_read : restored);
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
