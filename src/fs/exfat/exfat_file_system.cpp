#include "fs/exfat/exfat_file_system.h"

#include "fs/exfat/exfat_boot.h"
#include "fs/exfat/exfat_content.h"
#include "fs/exfat/exfat_free_space.h"
#include "fs/exfat/exfat_plan.h"
#include "fs/file_name.h"
#include "run/messages.h"

namespace kestrel {
namespace {

// The attribute bits a restored file takes: read-only, hidden, system and archive.
constexpr uint16_t kKeptAttributes = 0x27;

}  // namespace

std::vector<std::string> ExfatFileSystem::Folders(const std::string& folder, bool* found) {
  std::optional<std::vector<std::string>> names = ExfatLiveFolders(*volume_, folder);
  if (found != nullptr) *found = names.has_value();
  return names.value_or(std::vector<std::string>{});
}

SearchResult ExfatFileSystem::FindDeleted(const std::string& folder, RunContext& run,
                                          std::vector<DeletedFile>* files) {
  files->clear();
  switch (SearchExfatFolders(*volume_, folder, run, &found_)) {
    case ExfatSearchEnd::kDone:
      break;
    case ExfatSearchEnd::kCancelled:
      return SearchResult::kCancelled;
    case ExfatSearchEnd::kFolderNotFound:
      return SearchResult::kFolderNotFound;
  }
  for (size_t i = 0; i < found_.size(); ++i) {
    const ExfatFoundFile& found = found_[i];
    const ExfatPlan plan = PlanExfatFile(*volume_, found.set, found.entry_deleted);
    if (!plan.valid) continue;
    DeletedFile file;
    file.folder = found.folder;
    file.name = Utf8FileName(found.set.name);
    file.name_as_read = found.set.name;
    file.type_extension = TypeExtensionOf(found.set.name);
    file.bytes = found.set.data_length;
    file.state = plan.state;
    file.times = found.set.times;
    file.dos_attributes = static_cast<uint8_t>(found.set.attributes & kKeptAttributes);
    file.key = i;
    files->push_back(std::move(file));
  }
  return SearchResult::kDone;
}

std::unique_ptr<FileContent> ExfatFileSystem::OpenContent(const DeletedFile& file) {
  if (file.key >= found_.size()) return nullptr;
  const ExfatFoundFile& found = found_[file.key];
  const ExfatPlan plan = PlanExfatFile(*volume_, found.set, found.entry_deleted);
  if (!plan.valid || plan.state == FileState::kOverwritten) return nullptr;
  return OpenExfatContent(*volume_, plan);
}

FreeSpaceResult ExfatFileSystem::OpenFreeSpace(std::unique_ptr<FreeSpaceMap>* map) {
  return OpenExfatFreeSpace(volume_->source(), volume_->geometry(), map);
}

std::optional<ProbeResult> OpenExfatFileSystem(ByteSource& volume, const BootSector& boot) {
  if (!HasExfatName(boot)) return std::nullopt;
  std::optional<ExfatGeometry> geometry = ReadExfatGeometry(volume, boot);
  std::unique_ptr<ExfatVolume> opened;
  if (geometry) opened = ExfatVolume::Open(volume, *geometry);
  if (!opened) return ProbeResult{nullptr, msg::kExfatRefused, MessageIcon::kStop};
  return ProbeResult{std::make_unique<ExfatFileSystem>(std::move(opened))};
}

}  // namespace kestrel
