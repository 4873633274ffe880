#pragma once
// The header signature dispatch: decides for one sector of the raw scan whether it starts a
// file of a selected type, continues the open file, or is ignored. Headers are recognised only
// at sector starts; every sector is consumed exactly once. The rows are those of the registry
// (carve/registry.h); carve/signature_dispatch.h holds the dispatch over any table of rows.

#include <cstdint>

#include "carve/carve_engine.h"
#include "carve/signature_dispatch.h"

namespace kestrel {

DispatchVerdict DispatchSector(CarveEngine& engine, const SectorInput& in);

// Sets of signature rows, one bit per row in the order they are tried. For tests and the
// fuzzer: a sector is tried only against the rows its first look lets through, so every row
// whose signature test matches the sector must be among them.
uint64_t RowsTriedOnSector(const SectorInput& in);
uint64_t RowsMatchingSector(const CarveEngine& engine, const SectorInput& in);

}  // namespace kestrel
