#pragma once
// What a raw scan reads: every sector of the source, or only the sectors a file system marks
// free. The plan hands out runs of sectors in source order; the driver cuts them into chunks.

#include <cstdint>

#include "fs/free_space.h"

namespace kestrel {

class ScanPlan {
 public:
  // Every sector of a source of `source_sectors` sectors.
  explicit ScanPlan(uint64_t source_sectors)
      : source_sectors_(source_sectors), total_sectors_(source_sectors) {}
  // Only the free sectors of `map` (which must outlive the plan).
  ScanPlan(uint64_t source_sectors, FreeSpaceMap& map)
      : source_sectors_(source_sectors), total_sectors_(map.free_sectors()), map_(&map) {}

  // The first run of sectors to scan that ends after `from`, starting at `from` at the earliest
  // (and not before the plan's start). False when nothing follows.
  bool NextRun(uint64_t from, SectorRun* run);
  // The sectors before `sector` are not scanned (a scan that goes on from a checkpoint).
  void StartAt(uint64_t sector) { start_ = sector; }

  // Sectors the source holds (a last partial sector counts as one).
  uint64_t source_sectors() const { return source_sectors_; }
  // Sectors the scan reads in all: the measure of its progress.
  uint64_t total_sectors() const { return total_sectors_; }

 private:
  uint64_t source_sectors_;
  uint64_t total_sectors_;
  FreeSpaceMap* map_ = nullptr;
  uint64_t start_ = 0;
};

// Sectors per chunk: the unit of progress, cancel polls and read-error questions.
inline constexpr uint32_t kChunkSectors = 64;

// The end of the chunk that starts at `sector` in a run that ends at `run_end`: a chunk holds at
// most 64 sectors and never crosses a multiple of 64, so a whole scan's chunks are the source's
// 64-sector pieces from sector 0.
inline uint64_t ChunkEnd(uint64_t sector, uint64_t run_end) {
  const uint64_t boundary = (sector / kChunkSectors + 1) * kChunkSectors;
  return run_end < boundary ? run_end : boundary;
}

// The whole percentage of `done` out of `total` sectors (0 when there is nothing to do), in
// 64-bit arithmetic: a sector count of a 64-bit byte size is below 2^55, so done * 100 cannot
// overflow, however far past 2 TiB (2^32 sectors) the source reaches.
inline int ScanPercent(uint64_t done, uint64_t total) {
  return total == 0 ? 0 : static_cast<int>(done * 100 / total);
}

}  // namespace kestrel
