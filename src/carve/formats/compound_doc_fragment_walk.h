#pragma once
// A compound document (DOC, XLS, PPT) found in fragments out of order, or in order where the
// in-order search (compound_doc_reassembly.h) places none. The source within 256 units either way
// of the header is read once. The document's FAT sectors and directory sectors tell themselves
// apart from other data and lie at known offsets within their units: each unit of the document that
// holds some is the one unit of the window where all of them stand (the directory's streams with
// chains of the lengths their sizes need in the FAT found, its entries linking only to entries it
// holds). A unit of FAT sectors that stands alike in a few places (a near-identical document
// nearby) is taken where the directory is then found, and only when that is one place. These
// anchors place some units; the others are placed in the document's order, each following the unit
// before it or, at a cut, starting the run that ends at the next anchor. Inside a workbook stream
// (XLS) each unit must go on with the BIFF records and their rows (compound_doc_biff_cursor.h), and
// where neither of those units does, the units of the window that do are tried; in a Word document
// whose text starts as Latin UTF-16, each later unit that holds text must hold such text; the unit
// that ends a Word document's piece table (in the table stream) must hold one that ends at the
// character its FIB counts (the FIB as placed, or before its unit is placed, one of the few that
// stand in the window for a stream of its length), and where neither unit does, the units of the
// window that do are tried. Inside a presentation's slide thumbnail (raw pixel rows,
// compound_doc_thumbnail_rows.h), of the unit after a piece and the unit that starts the run to the
// next anchor, a run that clearly breaks the rows where the other goes on with them (at the first
// unit where their bytes differ) is not tried, and no unit whose own rows differ like noise is
// taken inside it. The document is put together only when exactly one arrangement passes its whole
// check (compound_doc_check.h): a cut inside data nothing judges fits at several places alike, and
// then nothing is put together.
//
// Bounded: a window of at most 4 MiB, 32 whole checks of at most 16 times the document's length in
// all, 65,536 units tried, 16 searches of the window for a unit that goes on with the records, the
// text or the piece table, each giving at most 4 units; piece tables of at most 64 KiB judged; two
// runs compared for their rows over at most 64 units.

#include <cstdint>
#include <optional>
#include <vector>

#include "carve/format.h"
#include "carve/piece_source.h"
#include "platform/byte_source.h"

namespace kestrel {

bool WalkCompoundFragments(ByteSource& source, uint64_t start, const ByteUnits& units,
                           std::vector<FilePiece>* pieces);

// The first directory sector of the document whose header is at `start`, found as the walk finds
// it (after its FAT), for naming a document whose FAT is not at its place. Empty when the FAT or
// the directory is not found in exactly one place.
std::optional<std::vector<uint8_t>> FindCompoundDirectory(ByteSource& source, uint64_t start,
                                                          const ByteUnits& units);

}  // namespace kestrel
