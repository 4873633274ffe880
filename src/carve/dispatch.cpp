#include "carve/dispatch.h"

#include "carve/registry.h"
#include "carve/signature_dispatch.h"

namespace kestrel {

using RegistryDispatch = SignatureDispatch<kSignatureRows>;

DispatchVerdict DispatchSector(CarveEngine& engine, const SectorInput& in) {
  return RegistryDispatch::Sector(engine, in);
}

uint64_t RowsTriedOnSector(const SectorInput& in) {
  return RegistryDispatch::RowsTried(in);
}

uint64_t RowsMatchingSector(const CarveEngine& engine, const SectorInput& in) {
  return RegistryDispatch::RowsMatching(engine, in);
}

}  // namespace kestrel
