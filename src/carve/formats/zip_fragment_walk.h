#pragma once
// A ZIP archive (or Office Open XML document) found in fragments in any order, when its central
// directory cannot lead the search (its end record lies in a fragment before the archive's start,
// or the carve was closed by another archive's end record). The records are followed from the
// archive's start, each where the one before it ends: local headers with their data, central
// directory entries, the end record. Where a record does not hold, the fragment ended at an
// allocation unit boundary inside it (or at its start), and the rest lies at the start of another
// unit, after or before it. A continuation is taken when the record, read across it, holds whole:
// a member unpacks to its CRC-32 and a record starts where its data ends; a directory entry names
// the member at the offset and with the CRC-32 the walk found; the end record counts the entries
// and gives the directory's place. Nearest units are tried first, and a unit already taken is
// never taken again.
//
// A deflated member cut twice goes on from the unit through which its data inflates furthest past
// the cut just before where it breaks (for an XML part, where its text also stops reading as XML:
// foreign bytes inflate with its Huffman codes to its own characters, in no XML order). Deflate
// writes incompressible data as stored blocks, whose bytes it never checks: a cut inside one shows
// only at the next block's header, so the cut may lie at any unit boundary of the block's data; the
// walk goes on from the first, and the member's CRC-32 then tells which boundaries are right (each
// such cut moved along its block, the unit it goes on at with it; taken only when exactly one
// arrangement holds, at most 256 tried); the unit it goes on at must hold the header that broke,
// which lets the walk look 256 units either way (65,536 such looks per archive). A stored member
// that is itself an archive (a ZIP kept in a ZIP) is laid out by that archive's own records, walked
// the same way, and taken when its CRC-32 holds. Members whose sizes follow their data (data
// descriptors), ZIP64 sizes, encrypted members and methods other than stored and deflate end the
// walk. Bounded per archive: 16 fragments, 64 units either way, 64 boundaries per record, 4096
// candidate units, 64 of them read whole past the quick tests (a record must start where a member's
// data ends), and 64 MiB of member data unpacked.

#include <cstdint>
#include <vector>

#include "carve/format.h"
#include "carve/piece_source.h"
#include "platform/byte_source.h"

namespace kestrel {

// The pieces of the archive that starts at byte `start` of `source`; false when the walk does
// not reach an end record that closes it.
bool WalkZipFragments(ByteSource& source, uint64_t start, const ByteUnits& units,
                      std::vector<FilePiece>* pieces);

}  // namespace kestrel
