#include "recover/scan_plan.h"

namespace kestrel {

bool ScanPlan::NextRun(uint64_t from, SectorRun* run) {
  if (from < start_) from = start_;
  if (map_ != nullptr) return map_->NextRun(from, run);
  if (from >= source_sectors_) return false;
  *run = {from, source_sectors_ - from};
  return true;
}

}  // namespace kestrel
