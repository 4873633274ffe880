#include "fs/fat/fat_folders.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "fs/fat/fat_directory.h"

namespace kestrel {
namespace {

std::string UpperAscii(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The folder named `component` among `folders`: the same name first, then (when allowed) the
// first name that contains it.
std::optional<uint32_t> FindFolder(const std::vector<LiveSubdirectory>& folders,
                                   const std::string& component, bool allow_substring) {
  const std::string wanted = UpperAscii(component);
  for (const LiveSubdirectory& folder : folders) {
    if (UpperAscii(folder.name) == wanted) return folder.first_cluster;
  }
  if (!allow_substring) return std::nullopt;
  for (const LiveSubdirectory& folder : folders) {
    if (UpperAscii(folder.name).find(wanted) != std::string::npos) return folder.first_cluster;
  }
  return std::nullopt;
}

std::vector<LiveSubdirectory> FoldersIn(FatVolume& volume, DirectoryLocation where) {
  std::vector<uint8_t> bytes;
  if (!ReadDirectory(volume, where, &bytes)) return {};
  return LiveSubdirectories(bytes, volume.info().fat_type);
}

// The directory a subfolder's first cluster names; cluster 0 is the root (".." entries and
// damaged entries say so).
DirectoryLocation FolderLocation(const FatVolumeInfo& info, uint32_t cluster) {
  if (cluster == 0) return RootDirectory(info);
  return {false, cluster};
}

// Walks `components` from the root. The location of the last one, or nothing when one is
// missing.
std::optional<DirectoryLocation> WalkFolders(FatVolume& volume,
                                             const std::vector<std::string>& components,
                                             bool allow_substring, uint32_t* last_cluster) {
  DirectoryLocation where = RootDirectory(volume.info());
  *last_cluster = 0;
  for (const std::string& component : components) {
    std::optional<uint32_t> cluster =
        FindFolder(FoldersIn(volume, where), component, allow_substring);
    if (!cluster || *cluster == 0 || !volume.info().IsDataCluster(*cluster)) return std::nullopt;
    *last_cluster = *cluster;
    where = FolderLocation(volume.info(), *cluster);
  }
  return where;
}

}  // namespace

std::vector<std::string> SplitFolderPath(const std::string& folder_path) {
  std::vector<std::string> components;
  std::string current;
  for (char c : folder_path + "/") {
    if (c == '/' || c == '\\') {
      if (!current.empty() && current != ".") components.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  return components;
}

std::vector<std::string> ListFatFolders(ByteSource& source, const std::string& folder_path,
                                        bool* found) {
  if (found) *found = false;
  FatVolumeInfo info;
  if (!IdentifyFatVolume(source, &info) || !FatGeometryUsable(info)) return {};
  FatVolume volume(source, info);
  uint32_t cluster = 0;
  std::optional<DirectoryLocation> where =
      WalkFolders(volume, SplitFolderPath(folder_path), false, &cluster);
  if (!where) return {};
  if (found) *found = true;
  std::vector<std::string> names;
  for (const LiveSubdirectory& folder : FoldersIn(volume, *where)) names.push_back(folder.name);
  return names;
}

SelectedFolder ResolveSelectedFolder(FatVolume& volume, const std::string& folder_path) {
  SelectedFolder selected;
  const std::vector<std::string> components = SplitFolderPath(folder_path);
  uint32_t cluster = 0;
  if (!WalkFolders(volume, components, true, &cluster)) return selected;
  selected.resolution = FolderResolution::kFound;
  selected.cluster = cluster;
  selected.depth = static_cast<uint32_t>(components.size());
  std::optional<uint32_t> recycled =
      FindFolder(FoldersIn(volume, RootDirectory(volume.info())), "Recycled", false);
  if (recycled && volume.info().IsDataCluster(*recycled)) selected.recycled_cluster = *recycled;
  return selected;
}

}  // namespace kestrel
