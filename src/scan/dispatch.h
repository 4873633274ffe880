#pragma once
// The header signature dispatch: decides for one sector of the raw scan whether it starts a
// file of a selected type, continues the open file, or is ignored. Headers are recognised only
// at sector starts; every sector is consumed exactly once.

#include "carve/carve_engine.h"

namespace kestrel {

enum class DispatchVerdict { kContinue, kStopScan };

DispatchVerdict DispatchSector(CarveEngine& engine, const SectorInput& in);

}  // namespace kestrel
