#pragma once
// A ZIP archive (or Office Open XML document) found in fragments in order, with foreign units
// between them: its central directory, at the end, gives where every member's local header lies
// in the archive. Walking the members in the order of their offsets, a local header that is not
// at its offset is looked for whole units further on: the distance is a gap's length, and the
// gap starts at the unit boundary, between the previous member's header and this one, where
// cutting it out leaves the previous member's data unpacking to its CRC-32. The central
// directory's own place gives the last gap. Work is capped: at most 16 gaps, at most 1024 gap
// starts tried per gap, and at most eight times the file's length (256 MiB at least) of member
// data unpacked for them.

#include <cstdint>
#include <vector>

#include "carve/format.h"
#include "carve/piece_source.h"
#include "platform/byte_source.h"

namespace kestrel {

bool ReassembleZip(ByteSource& source, uint64_t start, uint64_t length, const ByteUnits& units,
                   std::vector<FilePiece>* pieces);

}  // namespace kestrel
