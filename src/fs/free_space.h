#pragma once
// The sectors a FAT, exFAT or NTFS volume marks free, as runs of 512-byte sectors, for a raw
// scan that carves only where deleted and lost files can lie. The maps read the volume's own
// allocation structures piece by piece (the FAT through FatVolume, exFAT's allocation bitmap
// through ExfatBitmap, NTFS's $Bitmap through NtfsBitmap), so their memory stays small whatever
// the size of the volume. Each file system makes its own map
// (FileSystem::OpenFreeSpace).

#include <cstdint>
#include <memory>
#include <string>

#include "platform/byte_source.h"

namespace kestrel {

// Sectors [first, first + count).
struct SectorRun {
  uint64_t first = 0;
  uint64_t count = 0;
  uint64_t end() const { return first + count; }
};

class FreeSpaceMap {
 public:
  virtual ~FreeSpaceMap() = default;

  // The free sectors from `from` on: the first run of free sectors that ends after `from`,
  // starting at `from` at the earliest. False when no free sector follows. Runs never reach past
  // the source's end. Calls in increasing order of `from` are cheap; any order is allowed.
  virtual bool NextRun(uint64_t from, SectorRun* run) = 0;

  // Free sectors of the whole volume (what a scan of the free space reads).
  uint64_t free_sectors() const { return free_sectors_; }
  // "FAT12", "FAT16", "FAT32", "exFAT" or "NTFS".
  const std::string& file_system() const { return file_system_; }

 protected:
  // Counts the free sectors by walking every run once.
  void CountFreeSectors();
  // The run that holds `from` when the last run found holds it.
  bool FromCachedRun(uint64_t from, SectorRun* run) const;
  // Remembers the free run [first, end) and answers `from` with its part from `from` on. False
  // when nothing of it lies at or after `from` (a run cut short by the source's end), so that a
  // walk over the runs always moves forward.
  bool Found(uint64_t first, uint64_t end, uint64_t from, SectorRun* run);

  uint64_t free_sectors_ = 0;
  std::string file_system_;
  SectorRun cached_;
};

// 512-byte sectors needed for `bytes`.
inline uint64_t SectorsOf(uint64_t bytes) {
  return (bytes + 511) / 512;
}

enum class FreeSpaceResult {
  kOk,
  kNoFileSystem,  // sector 0 is no usable FAT12/16/32, exFAT or NTFS boot sector
  kUnreadable,    // the FAT or $Bitmap cannot be read, or the NTFS structures are damaged
};

// The free-space map of the volume `volume` (which starts with its boot sector), from the file
// system the probe table finds there. The map reads through `volume` for as long as it lives.
FreeSpaceResult OpenFreeSpaceMap(ByteSource& volume, std::unique_ptr<FreeSpaceMap>* map);

}  // namespace kestrel
