#pragma once
// Carving of compound documents (structured storage: Word, Excel and PowerPoint files with the
// full signature D0 CF 11 E0 A1 B1 1A E1). The length comes from the header and the last FAT
// sector; the routine writes exactly that many bytes, notes which program wrote the document,
// and at the end names it DOC or XLS, or keeps it as PPT, by the selected types.

#include <cstdint>

#include "carve/carve_session.h"
#include "carve/sector_input.h"

namespace kestrel {

// Measures the document whose header is the sector `in` (reading its DIFAT and last FAT sector
// from the source) and sets `s.st.byte_count` to its length, which it returns. Also resets the
// routine's state for the new file. A header that cannot be measured (FAT counts or sectors
// beyond the source, unknown sector size) gives 0 and marks the file to be dropped.
uint64_t MeasureCompoundFile(CarveSession& s, const SectorInput& in);

// Per-sector routine (type code 24, or another code to keep the file under its own name).
void CarveCompoundDoc(CarveSession& s, const SectorInput& in, uint8_t type_code);

}  // namespace kestrel
