#pragma once
// A fixed list of sector runs as a plan's map: the scan reads exactly these sectors, in order.

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "fs/free_space.h"

namespace kestrel {

class SectorRunList : public FreeSpaceMap {
 public:
  // `runs` in increasing order, not overlapping.
  explicit SectorRunList(std::vector<SectorRun> runs) : runs_(std::move(runs)) {
    for (const SectorRun& run : runs_) free_sectors_ += run.count;
  }

  bool NextRun(uint64_t from, SectorRun* run) override {
    const auto after =
        std::upper_bound(runs_.begin(), runs_.end(), from,
                         [](uint64_t at, const SectorRun& r) { return at < r.end(); });
    if (after == runs_.end()) return false;
    const uint64_t first = std::max(from, after->first);
    *run = {first, after->end() - first};
    return true;
  }

 private:
  std::vector<SectorRun> runs_;
};

}  // namespace kestrel
