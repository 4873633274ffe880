#pragma once
// A FAT12/16/32 volume behind the FileSystem interface.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fs/fat/fat_recovery.h"
#include "fs/fat/fat_volume.h"
#include "fs/file_system.h"
#include "fs/probe.h"

namespace kestrel {

class FatFileSystem : public FileSystem {
 public:
  FatFileSystem(ByteSource& volume, const FatVolumeInfo& info);

  std::string name() const override;
  bool OffersFolders() const override { return true; }
  std::vector<std::string> Folders(const std::string& folder, bool* found) override;
  // A folder that does not exist ends the search.
  SearchResult FindDeleted(const std::string& folder, RunContext& run,
                           std::vector<DeletedFile>* files) override;
  std::unique_ptr<FileContent> OpenContent(const DeletedFile& file) override;
  FreeSpaceResult OpenFreeSpace(std::unique_ptr<FreeSpaceMap>* map) override;

 private:
  SearchResult Search(const std::string& folder, RunContext& run);
  DeletedFile Describe(const DeletedEntry& entry, uint64_t key);

  ByteSource& source_;
  FatVolume volume_;
  std::vector<DeletedEntry> entries_;  // of the last search, in the order found
};

// The probe row's opener: a boot sector that parses as FAT12/16/32.
std::optional<ProbeResult> OpenFatFileSystem(ByteSource& volume, const BootSector& boot);

}  // namespace kestrel
