#pragma once
// A JPEG found in fragments, in order or out of order, with foreign allocation units between
// them. Decoding the carve from its SOI breaks where foreign bytes begin; the fragment ended at a
// unit boundary before that point: before the first unit that holds no JPEG data (random bytes,
// text, another file's header); else at the last boundary before the break, where the
// picture's rows stop continuing each other most (the DC values of MCUs and of those a row above
// them jump), or at the boundaries before the last. The next fragment starts at a unit after or
// before the cut (never inside the pieces taken): units that hold JPEG data and follow a unit that
// holds none are tried first, then the others, nearest first. A candidate is taken when the picture
// decodes on cleanly through the unit after the seam and its rows continue across the seam; the
// search goes on from where that decoding breaks, and ends when the whole picture decodes to its
// last MCU and its EOI.
//
// A continuation that decodes cleanly through the two units after the seam is followed at once;
// one whose decoding breaks inside them (a fragment shorter than that) after the others, those
// whose rows go on most smoothly first. Pictures of one set of Huffman tables decode on in each
// other's data: there the rows at the seam tell, and the whole picture must still decode to its
// last MCU, so a mix is not written (a picture may then not come back).
//
// Bounds, per file: 8 fragments, 4 cuts per break, 256 units either way of a cut, 1,024
// continuations decoded, 128 MiB decoded (each decoding counted as 64 KiB more, the window it
// reads). For all files of a scan (one thread's searches on one source): 64 MiB decoded, and 32
// bytes more for every byte of the source before the file being put together, so crafted
// headers cost work in proportion to the source. A search that reaches a bound puts nothing
// together.

#include <cstdint>
#include <vector>

#include "carve/format.h"
#include "carve/piece_source.h"
#include "platform/byte_source.h"

namespace kestrel {

bool ReassembleJpeg(ByteSource& source, uint64_t start, uint64_t length, const ByteUnits& units,
                    std::vector<FilePiece>* pieces);

// Whether the `length` bytes may be a unit of a JPEG's entropy-coded data: every FF is followed
// by stuffing, a fill byte or a marker a JPEG may hold, and at least a fifth of the bytes have
// their high bit set (compressed data, not text or zeros).
bool LooksLikeJpegData(const uint8_t* data, size_t length);

}  // namespace kestrel
