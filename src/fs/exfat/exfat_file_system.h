#pragma once
// An exFAT volume behind the FileSystem interface.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fs/exfat/exfat_tree.h"
#include "fs/exfat/exfat_volume.h"
#include "fs/file_system.h"
#include "fs/probe.h"

namespace kestrel {

class ExfatFileSystem : public FileSystem {
 public:
  explicit ExfatFileSystem(std::unique_ptr<ExfatVolume> volume) : volume_(std::move(volume)) {}

  std::string name() const override { return "exFAT"; }
  bool OffersFolders() const override { return true; }
  std::vector<std::string> Folders(const std::string& folder, bool* found) override;
  SearchResult FindDeleted(const std::string& folder, RunContext& run,
                           std::vector<DeletedFile>* files) override;
  std::unique_ptr<FileContent> OpenContent(const DeletedFile& file) override;
  FreeSpaceResult OpenFreeSpace(std::unique_ptr<FreeSpaceMap>* map) override;

 private:
  std::unique_ptr<ExfatVolume> volume_;
  std::vector<ExfatFoundFile> found_;  // of the last search, in the order found
};

// The probe row's opener: a boot sector named "EXFAT   ". A volume whose boot regions give no
// sane geometry, or whose root folder or allocation bitmap cannot be read, is refused with
// message 125.
std::optional<ProbeResult> OpenExfatFileSystem(ByteSource& volume, const BootSector& boot);

}  // namespace kestrel
