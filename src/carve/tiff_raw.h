#pragma once
// Carving of TIFF files and of the camera RAW formats built on TIFF (NEF, DCR, KDC, SRF, PEF,
// ORF). They carry no end marker: the routine writes the header up to the first IFD, measures
// the file from its IFDs (reading the directories it needs from the source), writes exactly
// that many bytes, and then keeps the file under the camera maker's extension, or drops it.

#include <cstdint>

#include "carve/carve_session.h"
#include "carve/sector_input.h"

namespace kestrel {

// The start values of a TIFF-family file, set by the dispatch when it opens one (the KDC row and
// the TIFF row), before the first CarveTiffRaw call: thumbnail, maker-note and maker fields and
// `ifd_done` cleared, the file's first sector, its byte order, and the first-IFD offset as the
// bytes to write first and as `ifd_base`. `orf_name`, `always_keep` and `kodak_dc` are the
// dispatch's own.
void StartTiffRaw(CarveSession& s, const SectorInput& in);

// Per-sector routine for the first sector and every later one while the file is open. Returns
// false when the file cannot be measured or is refused (a maker whose type is not selected, an
// IFD or a strip outside the source, an estimate reaching past the source's end): the file has
// then already been deleted, never listed, and the open flags cleared. When the file is
// complete it is closed, renamed to the maker's extension (type code 30) and listed, or deleted
// when neither a maker, an ORF name nor the TIF selection keeps it.
bool CarveTiffRaw(CarveSession& s, const SectorInput& in, uint8_t type_code);

}  // namespace kestrel
