#pragma once
// Canon CRW (CIFF) carving: the file ends after its root directory, which lies at its end.

#include "carve/carve_session.h"
#include "carve/sector_input.h"

namespace kestrel {

// Searches each sector for the root directory (the directory whose raw-image record points at
// heap offset 0 and whose data lies in what was written), then copies the directory through its
// table-offset word and closes, lists and counts the file. Before the first call the dispatch
// sets byte_count = 0, file_complete = false and big_endian from the byte order mark.
void CarveCrw(CarveSession& s, const SectorInput& in);

}  // namespace kestrel
