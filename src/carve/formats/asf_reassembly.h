#pragma once
// A WMV (any ASF file) found in fragments in order, with foreign units between them
// (offset_reassembly.h): its data packets all have one size, so the File Properties object
// places every packet, and after them the index objects. A packet that is not at its place is
// looked for whole units further on; the gap starts at the only unit boundary between the
// packet before it and its place (packets shorter than a unit leave one; with larger packets the
// file is not put together). The file's stated size ends it. Gaps are looked for up to 64 MiB in
// all; the file is kept only when its whole check then holds (asf_check.h: the media objects'
// sequence runs on across every cut). Fragments out of order are found by following the packets
// from the first on: where one stops fitting, the next fragment is the unit nearby (256 either
// way) from which the most packets then fit; at most 16 fragments and 4 million packets read.
// The pieces found in order are taken only when the whole check holds, else the walk gets its
// turn. Neither takes a unit that lies at its own place in another ASF file (as far after that
// file's header as the packet looked for is after this one's): a file made alike, with the same
// pictures and another sound, fits every seam there, and no check looks into the objects.

#include <cstdint>
#include <vector>

#include "carve/format.h"
#include "carve/piece_source.h"
#include "platform/byte_source.h"

namespace kestrel {

bool ReassembleAsf(ByteSource& source, uint64_t start, uint64_t length, const ByteUnits& units,
                   std::vector<FilePiece>* pieces);

}  // namespace kestrel
