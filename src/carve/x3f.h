#pragma once
// Sigma X3F carving: the file ends after its "SECd" section directory, which lies at its end.

#include "carve/carve_session.h"
#include "carve/sector_input.h"

namespace kestrel {

// Copies sectors until the first "SECd" directory, then through the directory's entries and the
// 4-byte directory offset that ends the file, across as many sectors as it spans; then closes,
// lists and counts the file. The dispatch sets x3f_tail = 0 before the first call.
void CarveX3f(CarveSession& s, const SectorInput& in);

}  // namespace kestrel
