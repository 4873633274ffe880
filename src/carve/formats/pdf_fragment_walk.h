#pragma once
// A PDF found in fragments out of order, or in order with more between them than the in-order
// search (pdf_reassembly.h) looks through. The source around the file's start (128 units either
// way) is read once, and every object header ("N G obj" at a line start), every "xref" at a line
// start and every "startxref" before "%%EOF" in it is noted. A "startxref" names the file offset
// of its table; a table at that offset within its unit, just before it, is the file's last one,
// and its /Prev chain, each table found the same way, places every object of every revision.
// Each unit of the file is then the one unit of the source, not taken by another, that holds
// every object header and table the tables place in it at its offset within the unit; a unit in
// which nothing starts (inside a stream) follows the unit before it. The file is kept only when
// its check (pdf_check.h) then finds it whole, and only when one "startxref" near it leads to a
// whole file.
//
// Bounded: files of at most 256 units, 256 tables parsed and 100,000 objects placed, 64 tails
// tried; 1 MiB read.

#include <cstdint>
#include <vector>

#include "carve/format.h"
#include "carve/piece_source.h"
#include "platform/byte_source.h"

namespace kestrel {

bool WalkPdfFragments(ByteSource& source, uint64_t start, const ByteUnits& units,
                      std::vector<FilePiece>* pieces);

}  // namespace kestrel
