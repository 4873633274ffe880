#pragma once
// Carving of ZIP archives and of the Office Open XML documents built on them (DOCX, XLSX,
// PPTX): from the first local file header to the end of the end-of-central-directory record
// and its comment. While writing, the routine notes the Office marks of the local headers and
// the part folders "word/", "xl/" and "ppt/"; at the end it names the file by them and by the
// selected types.

#include <cstdint>

#include "carve/carve_session.h"
#include "carve/sector_input.h"

namespace kestrel {

// The start values of an archive, set by the dispatch when it opens one (the ZIP row): no
// Office marks and no part folder seen yet.
void StartZip(CarveSession& s);

// Per-sector routine (type code 36) for the first sector and every later one. When the end
// record is written the file is finished (FinishCarvedFile), moved to a DOCX, XLSX or PPTX
// name or kept as ZIP, or deleted when its type is not selected, and listed; `zip_open` is
// cleared.
void CarveZip(CarveSession& s, const SectorInput& in);

}  // namespace kestrel
