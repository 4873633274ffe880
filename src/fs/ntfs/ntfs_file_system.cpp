#include "fs/ntfs/ntfs_file_system.h"

#include <algorithm>
#include <cstring>

#include "fs/fat/fat_folders.h"
#include "fs/file_name.h"
#include "fs/ntfs/ntfs_free_space.h"
#include "run/messages.h"

namespace kestrel {
namespace {

// Records 0 to 9 are the volume's own metadata files ($MFT to $Secure), never deleted files.
constexpr uint64_t kFirstExaminedRecord = 10;
// The bitmap is held whole up to this size (a volume of 8 TiB with 4 KiB clusters).
constexpr uint64_t kMaxBitmapWindow = 256ull << 20;

// A FILETIME (100 ns steps since 1601) as seconds since 1970; nothing for 0.
std::optional<int64_t> UnixSeconds(uint64_t filetime) {
  constexpr int64_t kEpochDifference = 11644473600;
  if (filetime == 0) return std::nullopt;
  return static_cast<int64_t>(filetime / 10000000) - kEpochDifference;
}

class NtfsContent : public FileContent {
 public:
  NtfsContent(NtfsDataReader reader, uint32_t bytes_per_cluster)
      : reader_(std::move(reader)), bytes_per_cluster_(bytes_per_cluster) {}

  uint64_t length() const override { return reader_.length(); }
  uint64_t position() const override { return reader_.position(); }
  int64_t ReadNext(uint8_t* buffer, size_t capacity) override {
    return reader_.ReadNext(buffer, capacity);
  }
  uint64_t SkipHole() override { return reader_.SkipHole(); }
  uint64_t StoredBytes() const override { return reader_.StoredBytes(); }

  // Plain runs only: resident and compressed content is not stored as the bytes it reads as.
  std::vector<ByteRun> Runs() const override {
    const NtfsAttributeValue& value = reader_.value();
    std::vector<ByteRun> runs;
    if (value.resident || value.Compressed()) return runs;
    for (const DataRun& run : value.runs) {
      const uint64_t offset = run.first_vcn * bytes_per_cluster_;
      if (offset >= length()) break;
      const uint64_t bytes = std::min(run.cluster_count * bytes_per_cluster_, length() - offset);
      runs.push_back({offset, run.sparse ? 0 : run.lcn * bytes_per_cluster_, bytes, run.sparse});
    }
    return runs;
  }

 private:
  NtfsDataReader reader_;
  uint64_t bytes_per_cluster_;
};

}  // namespace

std::vector<std::string> NtfsFileSystem::Folders(const std::string&, bool* found) {
  if (found != nullptr) *found = false;
  return {};
}

SearchResult NtfsFileSystem::Load(RunContext& run) {
  bool cancelled = false;
  const int loaded = drive_.LoadMft([&run, &cancelled](uint64_t, uint64_t) {
    cancelled = run.PollCancel();
    if (cancelled) return false;
    run.PumpMessages();
    return true;
  });
  if (cancelled) return SearchResult::kCancelled;
  if (loaded != ntfs_error::kOk) return SearchResult::kUnreadable;
  const uint64_t bitmap_bytes = (drive_.volume_clusters() + 7) / 8;
  bitmap_ = OpenNtfsBitmap(
      drive_, static_cast<size_t>(std::clamp<uint64_t>(bitmap_bytes, 1, kMaxBitmapWindow)));
  return SearchResult::kDone;
}

SearchResult NtfsFileSystem::FindDeleted(const std::string& folder, RunContext& run,
                                         std::vector<DeletedFile>* files) {
  files->clear();
  if (const SearchResult loaded = Load(run); loaded != SearchResult::kDone) return loaded;
  RunUi& ui = run.ui();
  ui.SetBarRange(0, 100);
  ui.SetBarPosition(0);
  const uint64_t count = drive_.record_count();
  const uint64_t steps = count > kFirstExaminedRecord ? count - kFirstExaminedRecord : 0;
  const std::string copying(MessageText(msg::kCopyingFiles));
  for (uint64_t i = 0; i < steps; ++i) {
    run.ShowStatusText(copying);
    ui.SetBarPosition(static_cast<uint32_t>(i * 100 / steps));
    ui.Repaint();
    if (run.PollCancel()) return SearchResult::kCancelled;
    run.PumpMessages();
    const uint64_t record = kFirstExaminedRecord + i;
    NtfsFileDetail detail;
    const int error = drive_.GetFileDetail(record, &detail);
    if (error == ntfs_error::kNoMoreRecords) break;
    if (error == ntfs_error::kBadRecord) continue;
    if (error != ntfs_error::kOk) return SearchResult::kUnreadable;
    if (!detail.deleted || detail.directory || detail.extension) continue;
    if (std::optional<DeletedFile> file = Examine(record, detail, folder)) {
      files->push_back(std::move(*file));
    }
  }
  return SearchResult::kDone;
}

// A deleted file record with a $FILE_NAME, below the selected folder and with content; nothing for
// one without (no unnamed $DATA, damaged runs, no bytes).
std::optional<DeletedFile> NtfsFileSystem::Examine(uint64_t record, const NtfsFileDetail& detail,
                                                   const std::string& folder) {
  if (!detail.named) return std::nullopt;
  DeletedFile file;
  file.name = Utf8FileName(detail.name);
  file.name_as_read = detail.name;
  file.folder = paths_.FolderOf(detail.parent_reference);
  if (!SplitFolderPath(folder).empty() && !NtfsPathIsBelow(file.VolumePath(), folder)) {
    return std::nullopt;
  }
  std::optional<NtfsDataReader> data;
  if (drive_.ReadFileData(record, &data) != ntfs_error::kOk || data->length() == 0) {
    return std::nullopt;
  }
  file.type_extension = TypeExtensionOf(detail.name);
  file.bytes = data->length();
  file.state = StateOf(data->value());
  file.times = {UnixSeconds(detail.modification_time), UnixSeconds(detail.access_time),
                UnixSeconds(detail.creation_time)};
  file.key = record;
  return file;
}

// A deleted file's clusters that the bitmap gives out again hold other data now.
FileState NtfsFileSystem::StateOf(const NtfsAttributeValue& value) {
  if (value.resident || !bitmap_) return FileState::kIntact;
  uint64_t used = 0;
  uint64_t total = 0;
  for (const DataRun& run : value.runs) {
    if (run.sparse) continue;
    for (uint64_t c = run.lcn; c < run.lcn + run.cluster_count; ++c) {
      if (bitmap_->InUse(c)) ++used;
    }
    total += run.cluster_count;
  }
  if (used == 0) return FileState::kIntact;
  return used == total ? FileState::kOverwritten : FileState::kPartlyOverwritten;
}

std::unique_ptr<FileContent> NtfsFileSystem::OpenContent(const DeletedFile& file) {
  std::optional<NtfsDataReader> data;
  if (drive_.ReadFileData(file.key, &data) != ntfs_error::kOk) return nullptr;
  return std::make_unique<NtfsContent>(std::move(*data), drive_.bytes_per_cluster());
}

FreeSpaceResult NtfsFileSystem::OpenFreeSpace(std::unique_ptr<FreeSpaceMap>* map) {
  return OpenNtfsFreeSpace(source_, map);
}

std::optional<ProbeResult> OpenNtfsFileSystem(ByteSource& volume, const BootSector& boot) {
  if (std::memcmp(boot.data() + 3, "NTFS    ", 8) != 0) return std::nullopt;
  return ProbeResult{std::make_unique<NtfsFileSystem>(volume)};
}

}  // namespace kestrel
