#include "fs/free_space.h"

#include <algorithm>

#include "fs/probe.h"

namespace kestrel {

void FreeSpaceMap::CountFreeSectors() {
  free_sectors_ = 0;
  SectorRun run;
  for (uint64_t from = 0; NextRun(from, &run); from = run.end()) free_sectors_ += run.count;
}

bool FreeSpaceMap::FromCachedRun(uint64_t from, SectorRun* run) const {
  if (cached_.count == 0 || from < cached_.first || from >= cached_.end()) return false;
  *run = {from, cached_.end() - from};
  return true;
}

bool FreeSpaceMap::Found(uint64_t first, uint64_t end, uint64_t from, SectorRun* run) {
  const uint64_t start = std::max(from, first);
  if (end <= start) return false;
  cached_ = {first, end - first};
  *run = {start, end - start};
  return true;
}

FreeSpaceResult OpenFreeSpaceMap(ByteSource& volume, std::unique_ptr<FreeSpaceMap>* map) {
  map->reset();
  BootSector boot{};
  if (!volume.ReadExact(0, boot.data(), boot.size())) return FreeSpaceResult::kUnreadable;
  ProbeResult probed = OpenFileSystem(volume);
  if (!probed.file_system) return FreeSpaceResult::kNoFileSystem;
  return probed.file_system->OpenFreeSpace(map);
}

}  // namespace kestrel
