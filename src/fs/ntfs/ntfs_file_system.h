#pragma once
// An NTFS volume behind the FileSystem interface: the deleted file records of its master file
// table, their content through the MFT reader, and $Bitmap for free space and file states.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fs/file_system.h"
#include "fs/ntfs/ntfs_bitmap.h"
#include "fs/ntfs/ntfs_paths.h"
#include "fs/ntfs/ntfs_volume.h"
#include "fs/probe.h"

namespace kestrel {

class NtfsFileSystem : public FileSystem {
 public:
  explicit NtfsFileSystem(ByteSource& volume) : source_(volume), drive_(volume), paths_(drive_) {}

  std::string name() const override { return "NTFS"; }
  // The folder tree of an NTFS volume is not offered; --folder still limits a run by path.
  bool OffersFolders() const override { return false; }
  std::vector<std::string> Folders(const std::string& folder, bool* found) override;
  // Loads the MFT and examines every record from 10 on: the deleted file records with a name
  // and content below `folder` (names compared without regard to case).
  SearchResult FindDeleted(const std::string& folder, RunContext& run,
                           std::vector<DeletedFile>* files) override;
  std::unique_ptr<FileContent> OpenContent(const DeletedFile& file) override;
  FreeSpaceResult OpenFreeSpace(std::unique_ptr<FreeSpaceMap>* map) override;

 private:
  SearchResult Load(RunContext& run);
  std::optional<DeletedFile> Examine(uint64_t record, const NtfsFileDetail& detail,
                                     const std::string& folder);
  FileState StateOf(const NtfsAttributeValue& value);

  ByteSource& source_;
  NtfsDrive drive_;
  NtfsPaths paths_;
  std::unique_ptr<NtfsBitmap> bitmap_;  // which clusters are in use now
};

// The probe row's opener: a boot sector whose OEM name is "NTFS".
std::optional<ProbeResult> OpenNtfsFileSystem(ByteSource& volume, const BootSector& boot);

}  // namespace kestrel
