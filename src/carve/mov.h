#pragma once
// Carving of QuickTime movies by their chain of top-level atoms ("mdat", "moov", "free",
// "skip", "wide"; 32-bit sizes, or 64-bit extended sizes): the movie ends at the first atom
// boundary that does not start one of them. The atom count carries over from sector to sector,
// so media data of any length is passed over without reading it.

#include <cstdint>

#include "carve/carve_session.h"
#include "carve/sector_input.h"

namespace kestrel {

// The start value of a movie, set by the dispatch when it opens one (the MOV row): the walk
// stands on the movie's first atom.
void StartMov(CarveSession& s);

// Per-sector routine (type code 13). At the end the movie is finished (FinishCarvedFile keeps,
// counts and lists it) and `mov_open` cleared. A movie with an atom that reaches past the
// source's end cannot be written whole and is deleted at once, never listed.
void CarveMov(CarveSession& s, const SectorInput& in, uint8_t type_code);

}  // namespace kestrel
