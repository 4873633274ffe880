#include "fs/exfat/exfat_tree.h"

#include <algorithm>
#include <cctype>
#include <deque>
#include <utility>

#include "fs/exfat/exfat_plan.h"
#include "fs/fat/fat_folders.h"
#include "fs/file_name.h"

namespace kestrel {
namespace {

constexpr const char* kSearchingText = "Searching deleted files...";
constexpr size_t kMaxFolders = 65536;
constexpr uint32_t kMaxDepth = 128;

struct ExfatFolder {
  ClusterRuns clusters;
  uint64_t bytes = 0;
  std::string path = "/";
  bool deleted = false;
  uint32_t depth = 0;
};

std::string UpperAscii(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string ChildPath(const std::string& parent, const std::string& name) {
  return (parent == "/" ? "/" : parent + "/") + Utf8FileName(name);
}

ExfatFolder RootFolder(ExfatVolume& volume) {
  ExfatFolder root;
  root.clusters = volume.root();
  root.bytes = ClusterTotal(root.clusters) << volume.geometry().cluster_shift;
  return root;
}

// Calls `visit` with every entry set of `folder` in order, up to its end-of-directory entry,
// while it returns true. A File entry whose set does not check out is passed over alone.
template <typename Visit>
bool ForEachSet(ExfatVolume& volume, const ExfatFolder& folder, Visit visit) {
  ExfatEntryReader reader(volume, folder.clusters, folder.bytes);
  std::vector<ExfatRawEntry> set;
  ExfatRawEntry entry;
  while (reader.Next(&entry) && entry[0] != exfat_entry::kEndOfDirectory) {
    const size_t secondaries = entry[1];
    if (!IsFileEntry(entry[0]) || secondaries < 2 || secondaries > kMaxSecondaryEntries) continue;
    set.assign(1, entry);
    while (set.size() <= secondaries && reader.Next(&entry)) set.push_back(entry);
    std::optional<ExfatEntrySet> parsed = ParseExfatEntrySet(set);
    if (!parsed) {
      reader.PutBack(set.data() + 1, set.size() - 1);
      continue;
    }
    if (!visit(*parsed)) return false;
  }
  return true;
}

// A live folder's clusters: contiguous or its FAT chain, up to its recorded size.
std::optional<ExfatFolder> LiveSubfolder(ExfatVolume& volume, const ExfatEntrySet& set,
                                         const ExfatFolder& parent) {
  const ExfatGeometry& geometry = volume.geometry();
  const uint64_t clusters = volume.ClustersFor(set.data_length);
  if (set.data_length == 0 || set.data_length > kMaxExfatFolderBytes ||
      !geometry.IsCluster(set.first_cluster)) {
    return std::nullopt;
  }
  ExfatFolder folder;
  if (set.no_fat_chain) {
    if (set.first_cluster + clusters - 1 > geometry.LastCluster()) return std::nullopt;
    folder.clusters = {{set.first_cluster, static_cast<uint32_t>(clusters)}};
  } else {
    bool complete = false;
    folder.clusters = volume.fat().Chain(set.first_cluster, clusters, &complete);
  }
  folder.bytes = std::min(set.data_length, ClusterTotal(folder.clusters) << geometry.cluster_shift);
  folder.path = ChildPath(parent.path, set.name);
  folder.depth = parent.depth + 1;
  return folder;
}

// A deleted folder's clusters are found as a deleted file's are.
std::optional<ExfatFolder> DeletedSubfolder(ExfatVolume& volume, const ExfatEntrySet& set,
                                            const ExfatFolder& parent) {
  if (set.data_length > kMaxExfatFolderBytes) return std::nullopt;
  const ExfatPlan plan = PlanExfatFile(volume, set, !set.in_use);
  if (!plan.valid || plan.state == FileState::kOverwritten || plan.clusters.empty()) {
    return std::nullopt;
  }
  ExfatFolder folder;
  folder.clusters = plan.clusters;
  folder.bytes = plan.stored_bytes;
  folder.path = ChildPath(parent.path, set.name);
  folder.deleted = true;
  folder.depth = parent.depth + 1;
  return folder;
}

// The live subfolders of `folder` with their names as a kept folder is named (Utf8FileName).
std::vector<std::pair<std::string, ExfatFolder>> LiveSubfolders(ExfatVolume& volume,
                                                                const ExfatFolder& folder) {
  std::vector<std::pair<std::string, ExfatFolder>> found;
  ForEachSet(volume, folder, [&](const ExfatEntrySet& set) {
    if (!set.in_use || !set.directory) return true;
    if (std::optional<ExfatFolder> sub = LiveSubfolder(volume, set, folder)) {
      found.emplace_back(Utf8FileName(set.name), std::move(*sub));
    }
    return found.size() < kMaxFolders;
  });
  return found;
}

// The live folder at `folder_path`: each component the folder of that name, or (when
// `allow_substring`) the first whose name contains it.
std::optional<ExfatFolder> ResolveFolder(ExfatVolume& volume, const std::string& folder_path,
                                         bool allow_substring) {
  ExfatFolder current = RootFolder(volume);
  for (const std::string& component : SplitFolderPath(folder_path)) {
    const std::string wanted = UpperAscii(component);
    auto subfolders = LiveSubfolders(volume, current);
    auto match = std::find_if(subfolders.begin(), subfolders.end(),
                              [&](const auto& sub) { return UpperAscii(sub.first) == wanted; });
    if (match == subfolders.end() && allow_substring) {
      match = std::find_if(subfolders.begin(), subfolders.end(), [&](const auto& sub) {
        return UpperAscii(sub.first).find(wanted) != std::string::npos;
      });
    }
    if (match == subfolders.end()) return std::nullopt;
    current = std::move(match->second);
  }
  return current;
}

class TreeSearch {
 public:
  TreeSearch(ExfatVolume& volume, RunContext& run, std::vector<ExfatFoundFile>* files)
      : volume_(volume), run_(run), files_(files) {}

  // False when cancelled.
  bool Run(ExfatFolder start) {
    queue_.push_back(std::move(start));
    ++queued_;
    while (!queue_.empty()) {
      ExfatFolder folder = std::move(queue_.front());
      queue_.pop_front();
      if (!Search(TakeUnread(std::move(folder)))) return false;
    }
    return true;
  }

 private:
  // A folder's clusters up to the first one read already as some folder's, and up to the
  // source's end: each cluster is searched once, whatever loops damaged entries make.
  ExfatFolder TakeUnread(ExfatFolder folder) {
    const uint64_t end_of_source = uint64_t{volume_.LastReadableCluster()} + 1;
    ClusterRuns unread;
    for (const ClusterRun& run : folder.clusters) {
      const uint64_t stop = read_.FirstIn(run.first, std::min(run.end(), end_of_source));
      const ClusterRun taken{run.first,
                             static_cast<uint32_t>(stop > run.first ? stop - run.first : 0)};
      read_.AddRun(taken);
      if (taken.count != 0) unread.push_back(taken);
      if (stop < run.end()) break;
    }
    folder.clusters = std::move(unread);
    return Limited(std::move(folder));
  }

  ExfatFolder Limited(ExfatFolder folder) const {
    folder.bytes =
        std::min(folder.bytes, ClusterTotal(folder.clusters) << volume_.geometry().cluster_shift);
    return folder;
  }

  bool Search(const ExfatFolder& folder) {
    return ForEachSet(volume_, folder, [&](const ExfatEntrySet& set) {
      if (run_.PollCancel()) return false;
      run_.PumpMessages();
      const bool deleted = folder.deleted || !set.in_use;
      if (set.directory) {
        AddSubfolder(folder, set, deleted);
      } else if (deleted) {
        files_->push_back({set, folder.path, !set.in_use});
      }
      return true;
    });
  }

  void AddSubfolder(const ExfatFolder& parent, const ExfatEntrySet& set, bool deleted) {
    if (parent.depth >= kMaxDepth || queued_ >= kMaxFolders) return;
    std::optional<ExfatFolder> sub =
        deleted ? DeletedSubfolder(volume_, set, parent) : LiveSubfolder(volume_, set, parent);
    if (!sub) return;
    ++queued_;
    queue_.push_back(std::move(*sub));
  }

  ExfatVolume& volume_;
  RunContext& run_;
  std::vector<ExfatFoundFile>* files_;
  std::deque<ExfatFolder> queue_;
  ClusterSet read_;
  size_t queued_ = 0;
};

}  // namespace

std::optional<std::vector<std::string>> ExfatLiveFolders(ExfatVolume& volume,
                                                         const std::string& folder_path) {
  std::optional<ExfatFolder> folder = ResolveFolder(volume, folder_path, false);
  if (!folder) return std::nullopt;
  std::vector<std::string> names;
  for (auto& [name, sub] : LiveSubfolders(volume, *folder)) names.push_back(name);
  return names;
}

ExfatSearchEnd SearchExfatFolders(ExfatVolume& volume, const std::string& folder_path,
                                  RunContext& run, std::vector<ExfatFoundFile>* files) {
  files->clear();
  std::optional<ExfatFolder> start = ResolveFolder(volume, folder_path, true);
  if (!start) return ExfatSearchEnd::kFolderNotFound;
  start->path = "/";
  for (const std::string& component : SplitFolderPath(folder_path)) {
    start->path = ChildPath(start->path, component);
  }
  run.ShowStatusText(kSearchingText);
  return TreeSearch(volume, run, files).Run(std::move(*start)) ? ExfatSearchEnd::kDone
                                                               : ExfatSearchEnd::kCancelled;
}

}  // namespace kestrel
