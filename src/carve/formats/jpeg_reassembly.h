#pragma once
// A JPEG found in fragments, in order or out of order, with foreign allocation units between
// them. Decoding the carve from its SOI breaks where foreign bytes begin; the fragment ended at a
// unit boundary before that point: before the first unit that holds no JPEG data (random bytes,
// text, another file's header); else where the picture's rows jump past anything inside a
// picture (it ran on into data of another picture of the same tables), at the last boundary
// before the break, or at the boundaries before it. The next fragment starts at a unit after or
// before the cut (never inside the pieces taken): units that hold JPEG data and follow a unit
// that holds none first, then the others, nearest first.
//
// Each candidate is decoded through the two units after the seam, on from the decoder's state
// kept just before the cut (jpeg_entropy.h), and the seam is judged by the picture's rows: the
// samples along the top edges of the MCUs after it against the bottom edges of those above them
// (jpeg_edges.h), compared with how the rows before the seam meet. Pictures of one set of Huffman
// tables decode on in each other's data, and only the rows tell them apart. The smoothest seam
// and those that come near it (at most 3) are followed to the picture's end, and the picture is
// put together only when exactly one of them makes it whole: decoded to its last MCU and its EOI,
// with its rows going on across every unit boundary. Where the rows cannot tell (a seam in a
// progressive picture's later scans), the three nearest are followed and the first that makes it
// whole is taken.
//
// A picture cut in its headers, before its data (inside an Exif block with a thumbnail), goes on
// in a unit that holds the next marker exactly where the cut segment's length puts it and whose
// headers go on from there into the data; from each such unit (at most 3 at each of the last 4
// boundaries before the break) the picture is followed on as above, and it is put together only
// when exactly one makes it whole.
//
// Bounds, per file: 8 fragments, 4 cuts per break, 256 units either way of a cut, 1,024
// continuations decoded, 32 MiB decoded (each decoding counted as 64 KiB more, the window it
// reads). For all files of a scan (one thread's searches on one source): 64 MiB decoded, and 8
// bytes more for every byte of the source before the file being put together, so crafted
// pictures cost work in proportion to the source. A search that reaches a bound puts nothing
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
