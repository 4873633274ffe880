#pragma once
// Standard MIDI File carving: the file ends after the last track chunk its header announces.

#include "carve/carve_session.h"
#include "carve/sector_input.h"

namespace kestrel {

// Walks the "MTrk" chunks of the sector (`first` on the "MThd" header sector). When the end is
// found the file is written up to it and marked complete; the driver's finish keeps and lists
// it. Sectors that arrive after the end add nothing to the file.
void CarveMidi(CarveSession& s, const SectorInput& in, bool first);

}  // namespace kestrel
