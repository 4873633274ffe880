#pragma once
// Length-driven carving: formats whose header states the file's total length (AIF, AVI, BMP,
// CUR, ICO, MRW, MSF, MSV, PST, RAF, SND, WAV, WMF, WMV). The dispatch computes the length and
// this routine copies exactly that many bytes, sector by sector, then closes and lists the file.

#include <cstdint>

#include "carve/carve_session.h"
#include "carve/sector_input.h"

namespace kestrel {

// Appends the sector, or the part of it that completes the file. `s.st.byte_count` holds the
// bytes still expected; when it reaches 0 the file is closed and listed. A stated length of 0 is no
// file: it is deleted, never listed.
void CarveCountedFile(CarveSession& s, const SectorInput& in);

}  // namespace kestrel
