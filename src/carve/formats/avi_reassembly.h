#pragma once
// An AVI found in fragments, in order or out of order, with foreign units between them. Its
// header up to the movie list gives where the movie list ends, where the idx1 index starts; when
// a cut lies before the movie list, the list's header ("LIST", its size, "movi") is looked for at
// any offset of the units within reach of the file (256 units either way, at most 16,384 units,
// read a block at a time) and taken when one place in the file fits it and an index of the size
// the file's length leaves it. The index's own header is looked for at its place of every unit
// within reach: one must hold it (or a few, copies of one index: the file lies twice in the
// source). Where its entries stop making sense (an id that is no chunk id, a chunk before the one
// the entry before it gives or past the file's end) it was cut, at a boundary within that entry,
// and goes on from the unit within reach with which the most of the next 64 entries make sense.
// The entries give every chunk's offset, id and size, so the movie list's header and then the
// chunk headers are checked in file order: one that is not where the fragments found so far put
// it was cut off, at a unit boundary after the chunk before it, and goes on from the unit within
// 256 either way of the cut (unit_candidates.h) that holds it at its place (for the movie list,
// with the header's chunks following each other from the file's start up to it). Of the
// candidates (every boundary and unit), the one with which the most chunk headers that follow
// within 16 units hold is taken. Two alike (a chunk longer than a unit holds no header to place
// the cut inside it) are told apart only inside an MPEG-4 Visual frame (by its start code): the
// one whose whole units inside the frame all read as coded video (byte values far from even, as
// random bytes are not, and nearly all of them used, as text does not) is taken if it is the only
// one; otherwise the file's pieces are unknown and nothing is put together. At most 16 fragments,
// 256 Ki header reads and 64 candidates alike.

#include <cstdint>
#include <vector>

#include "carve/format.h"
#include "carve/piece_source.h"
#include "platform/byte_source.h"

namespace kestrel {

bool ReassembleAvi(ByteSource& source, uint64_t start, uint64_t length, const ByteUnits& units,
                   std::vector<FilePiece>* pieces);

}  // namespace kestrel
