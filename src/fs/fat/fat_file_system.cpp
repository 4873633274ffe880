#include "fs/fat/fat_file_system.h"

#include <algorithm>
#include <cctype>

#include "fs/fat/fat_folders.h"
#include "fs/fat/fat_free_space.h"
#include "output/recovered_output.h"
#include "platform/utf16_text.h"

namespace kestrel {
namespace {

constexpr uint64_t kChunkBytes = 64 * kSectorBytes;  // 32 KiB per read
// Names stay well below the 255 bytes a Linux name may have, leaving room for " - Copy(k)".
constexpr size_t kMaxNameBytes = 230;

std::string TypeTestExtension(const std::string& extension) {
  size_t begin = extension.find_first_not_of(' ');
  size_t end = extension.find_last_not_of(' ');
  std::string text = begin == std::string::npos ? "" : extension.substr(begin, end - begin + 1);
  if (text.size() > 3) text.resize(3);
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// Cuts the part before the extension so that the name fits, at a UTF-8 character boundary.
std::string FitNameLength(const std::string& name) {
  if (name.size() <= kMaxNameBytes) return name;
  const size_t dot = name.find_last_of('.');
  const bool keep_extension = dot != std::string::npos && name.size() - dot <= kMaxNameBytes / 2;
  const std::string extension = keep_extension ? name.substr(dot) : "";
  const std::string_view base(name.data(), name.size() - extension.size());
  return std::string(CutUtf8(base, kMaxNameBytes - extension.size())) + extension;
}

FileTimes TimesOf(const FatEntryTimes& t) {
  return {FatTimestamp(t.modified_date, t.modified_time), FatTimestamp(t.accessed_date, 0),
          FatTimestamp(t.created_date, t.created_time)};
}

// The clusters of a plan, read in pieces of up to 32 KiB within each run of consecutive
// clusters. A piece that cannot be read whole is a failed read, never data.
class FatContent : public FileContent {
 public:
  FatContent(ByteSource& source, const FatVolumeInfo& info, const FilePlan& plan)
      : source_(source), length_(plan.bytes) {
    const uint64_t cluster_bytes = info.BytesPerCluster();
    uint64_t done = 0;
    for (size_t i = 0; i < plan.clusters.size() && done < plan.bytes;) {
      size_t end = i + 1;
      while (end < plan.clusters.size() && plan.clusters[end] == plan.clusters[end - 1] + 1) ++end;
      const uint64_t bytes = std::min<uint64_t>((end - i) * cluster_bytes, plan.bytes - done);
      runs_.push_back({done, info.ClusterFirstSector(plan.clusters[i]) * kSectorBytes, bytes});
      done += bytes;
      i = end;
    }
  }

  uint64_t length() const override { return length_; }
  uint64_t position() const override { return position_; }
  std::vector<ByteRun> Runs() const override { return runs_; }

  int64_t ReadNext(uint8_t* buffer, size_t capacity) override {
    while (run_ < runs_.size() && position_ >= runs_[run_].file_offset + runs_[run_].length) ++run_;
    if (run_ == runs_.size()) return 0;
    const ByteRun& run = runs_[run_];
    const uint64_t in_run = position_ - run.file_offset;
    const size_t piece =
        static_cast<size_t>(std::min<uint64_t>({capacity, kChunkBytes, run.length - in_run}));
    if (!source_.ReadExact(run.volume_offset + in_run, buffer, piece)) return -1;
    position_ += piece;
    return static_cast<int64_t>(piece);
  }

 private:
  ByteSource& source_;
  uint64_t length_;
  std::vector<ByteRun> runs_;
  size_t run_ = 0;
  uint64_t position_ = 0;
};

}  // namespace

FatFileSystem::FatFileSystem(ByteSource& volume, const FatVolumeInfo& info)
    : source_(volume), volume_(volume, info) {}

std::string FatFileSystem::name() const {
  switch (volume_.info().fat_type) {
    case FatType::kFat12:
      return "FAT12";
    case FatType::kFat16:
      return "FAT16";
    case FatType::kFat32:
      break;
  }
  return "FAT32";
}

std::vector<std::string> FatFileSystem::Folders(const std::string& folder, bool* found) {
  return ListFatFolders(source_, folder, found);
}

SearchResult FatFileSystem::Search(const std::string& folder_path, RunContext& run) {
  const FatVolumeInfo& info = volume_.info();
  if (!FatGeometryUsable(info)) return SearchResult::kNoFileSystem;
  const SelectedFolder folder = ResolveSelectedFolder(volume_, folder_path);
  if (folder.resolution == FolderResolution::kNotFound) return SearchResult::kFolderNotFound;
  SearchStart start;
  start.root_selected = folder.depth == 0 && folder.cluster == 0;
  start.start_cluster = folder.cluster;
  if (start.root_selected && info.fat_type == FatType::kFat32) {
    start.start_cluster = info.root_cluster;
  }
  start.recycled_cluster = folder.recycled_cluster;
  start.folder_path = folder_path;
  entries_.clear();
  switch (SearchDeletedEntries(volume_, run, start, &entries_)) {
    case SearchEnd::kDone:
      return SearchResult::kDone;
    case SearchEnd::kCancelled:
      return SearchResult::kCancelled;
    case SearchEnd::kOutOfMemory:
      break;
  }
  return SearchResult::kOutOfMemory;
}

DeletedFile FatFileSystem::Describe(const DeletedEntry& entry, uint64_t key) {
  DeletedFile file;
  file.folder = entry.folder;
  file.name = FitNameLength(FatWrittenName(entry.name, entry.extension, entry.name_as_read));
  file.name_as_read = entry.name_as_read;
  file.type_extension = TypeTestExtension(entry.extension);
  file.bytes = entry.size_bytes;
  file.times = TimesOf(entry.times);
  file.dos_attributes = entry.attributes;
  file.key = key;
  return file;
}

// The files come back from the last found to the first. Entries that name no file the volume
// could hold are left out.
SearchResult FatFileSystem::FindDeleted(const std::string& folder, RunContext& run,
                                        std::vector<DeletedFile>* files) {
  files->clear();
  const SearchResult searched = Search(folder, run);
  if (searched != SearchResult::kDone) return searched;
  for (size_t i = entries_.size(); i-- > 0;) {
    const FilePlan plan = PlanFileClusters(volume_, entries_[i]);
    if (!plan.valid) continue;
    DeletedFile file = Describe(entries_[i], i);
    file.state = plan.state;
    files->push_back(std::move(file));
  }
  return SearchResult::kDone;
}

std::unique_ptr<FileContent> FatFileSystem::OpenContent(const DeletedFile& file) {
  if (file.key >= entries_.size()) return nullptr;
  const FilePlan plan = PlanFileClusters(volume_, entries_[file.key]);
  if (!plan.valid) return nullptr;
  return std::make_unique<FatContent>(source_, volume_.info(), plan);
}

FreeSpaceResult FatFileSystem::OpenFreeSpace(std::unique_ptr<FreeSpaceMap>* map) {
  return OpenFatFreeSpace(source_, volume_.info(), map);
}

std::optional<ProbeResult> OpenFatFileSystem(ByteSource& volume, const BootSector& boot) {
  FatVolumeInfo info;
  if (!ParseFatBootSector(boot.data(), &info)) return std::nullopt;
  return ProbeResult{std::make_unique<FatFileSystem>(volume, info)};
}

}  // namespace kestrel
