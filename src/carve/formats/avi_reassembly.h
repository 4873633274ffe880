#pragma once
// An AVI found in fragments, in order or out of order, with foreign allocation units between
// them. Its header (up to the movie list's start) lies in the first fragment and gives where the
// movie list ends, where the idx1 index starts; the index's own header ("idx1" and the size the
// file's stated length leaves it) is looked for at that place of every unit within reach of the
// file (256 units either way, at most 16,384 units, read a block at a time): one must hold it (or a
// few, copies of one index: the file lies twice in the source). Its entries give every chunk's
// offset, id and size, so the chunk headers are checked in file order: one that is not where the
// fragments found so far put it was cut off, at a unit boundary after the chunk before it, and goes
// on from the unit within 256 either way of the cut (unit_candidates.h) that holds it at its place.
// Of the candidates (every boundary and unit), the one with which the most chunk headers that
// follow within 16 units hold is taken; two alike (a chunk longer than a unit holds no header to
// place the cut inside it) leave the file's pieces unknown, and nothing is put together. The
// chunks' contents are not looked into. At most 16 fragments and 256 Ki header reads.

#include <cstdint>
#include <vector>

#include "carve/format.h"
#include "carve/piece_source.h"
#include "platform/byte_source.h"

namespace kestrel {

bool ReassembleAvi(ByteSource& source, uint64_t start, uint64_t length, const ByteUnits& units,
                   std::vector<FilePiece>* pieces);

}  // namespace kestrel
