#pragma once
// An MPEG program stream whose chain of packs breaks on an allocation unit boundary without an
// end code may go on in a later unit, past foreign units: the unit that starts with a pack
// header of the stream's system whose clock reference follows the last pack's (no earlier, and
// no later than four times the last step between packs, at least 0.1 s) is where it goes on. The
// chain is walked from there to its next break, and the search starts again where that breaks
// on a unit boundary. Looked for in the 64 MiB after each break, at most 16 pieces. The stream is
// kept so only when its whole chain then holds (mpeg_ps_check.h). Pieces before the stream's
// start are not looked for: streams of one camera or encoder have packs whose clocks follow any
// break's, and the pieces of other files before it would be taken for its own.

#include <cstdint>
#include <vector>

#include "carve/format.h"
#include "carve/piece_source.h"
#include "platform/byte_source.h"

namespace kestrel {

bool ReassembleMpeg(ByteSource& source, uint64_t start, uint64_t length, const ByteUnits& units,
                    std::vector<FilePiece>* pieces);

}  // namespace kestrel
