#pragma once
// A PDF found in fragments in order, with foreign units between them (offset_reassembly.h): its
// classic cross-reference tables (the last one's and, through /Prev, every earlier revision's)
// give the offset of every object and table, and the last table's own place how many bytes were
// put in. A gap's start is the only unit boundary where cutting it leaves the part before it
// whole: an object's body parses up to "endobj", a stream's "endstream" stands at its direct
// /Length, and Flate data inflates with a good checksum; a revision's table runs through its
// trailer to its "%%EOF". Files with cross-reference streams (/XRefStm, or no classic table) are
// not put together. Parts are read up to 16 MiB (tables 4 MiB) each, and eight times the file's
// length (256 MiB at least) in all for the gap starts tried; the entries are capped at 500,000,
// the revisions at 1,000.

#include <cstdint>
#include <vector>

#include "carve/format.h"
#include "carve/piece_source.h"
#include "platform/byte_source.h"

namespace kestrel {

bool ReassemblePdf(ByteSource& source, uint64_t start, uint64_t length, const ByteUnits& units,
                   std::vector<FilePiece>* pieces);

}  // namespace kestrel
