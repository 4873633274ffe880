#pragma once
// Whether a carved PDF is whole, told by its cross-reference data and its streams.
//
// From the last "startxref" before the final "%%EOF", every cross-reference section is followed:
// classic tables with their trailers' /Prev and /XRefStm, and cross-reference streams (inflated,
// PNG row predictors undone), which is how linearised files and incremental updates chain their
// revisions. Every object a section places in the file must stand at its offset as "N G obj"
// with its own number: a file with bytes missing has its later objects shifted, and the tail of
// another PDF brings offsets that point into this one's bytes. A linearised file must be as long
// as its linearisation dictionary says, or longer (updates appended).
//
// A block of foreign bytes inside a stream leaves the offsets right, so every stream whose length
// is known (a direct /Length, or an indirect one a table places) must be followed by "endstream"
// at that length (a line end before it, or a writer counting one, allowed), and its data must
// decode: a Flate stream inflates to its end with a good checksum, a DCT stream decodes as a JPEG
// (jpeg_entropy). Encrypted files' stream data and other filters are not decoded.
//
// Unchecked: a file with no "startxref" or one naming offset 0 or a number too long to be an
// offset (no cross-reference data: readers rebuild it), a table whose objects all sit at offset
// 0, cross-reference streams of a kind not read here (other filters or predictors). Objects in
// object streams are not looked at one by one; the object stream itself is checked.
//
// Work is bounded: 500,000 objects, 1,000 sections (a loop in the /Prev chain ends the walk),
// 2,000,000 table entries, and 256 MiB of stream data decoded per file; past a cap, what was
// checked decides.

#include <cstdint>

#include "carve/format.h"
#include "platform/byte_source.h"

namespace kestrel {

Whole CheckPdf(ByteSource& source, uint64_t start, uint64_t length);

}  // namespace kestrel
