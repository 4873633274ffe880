#pragma once
// End-marker carving: formats that end with a fixed byte sequence. Each routine is called for
// the header sector and every later sector of its file; it appends sectors until it finds the
// end, writes through the end, marks the file complete and finishes it (FinishCarvedFile keeps,
// lists and counts it). An end sequence may start in the sector and run into the bytes after it;
// those are written from the following source bytes, never past the end of the source.

#include "carve/carve_session.h"
#include "carve/sector_input.h"

namespace kestrel {

// MPEG program stream: ends after the program end code 00 00 01 B9.
void CarveMpg(CarveSession& s, const SectorInput& in);
// PDF: ends after "%%EOF" and its line end. One "%%EOF" followed (after its line end) by two
// filler spaces, as in a linearised file's first part, is passed over; the file is complete from
// the first "%%EOF" on.
void CarvePdf(CarveSession& s, const SectorInput& in);
// ASX playlist: ends after "</ASX>" or "</asx>".
void CarveAsx(CarveSession& s, const SectorInput& in);
// PNG: ends after the IEND chunk type and its CRC.
void CarvePng(CarveSession& s, const SectorInput& in);
// Compound document without the full signature: ends after F4 39 B2 71.
void CarveOleDoc(CarveSession& s, const SectorInput& in);
// MP3 opened at an ID3v2 tag: ends after a 128-byte ID3v1 tag ("TAG" and 29 bytes of text).
void CarveMp3(CarveSession& s, const SectorInput& in);
// RTF: ends after a closing pattern ("\par }}", "\par }" or "b\\\n\\\n}") that only zero bytes
// follow up to the 16th byte from its start. Any closing pattern marks the file complete.
void CarveRtf(CarveSession& s, const SectorInput& in);

}  // namespace kestrel
