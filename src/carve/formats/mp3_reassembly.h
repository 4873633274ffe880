#pragma once
// An MP3 found in fragments, in order or out of order, with foreign allocation units between
// them. Its frames chain: each header gives the length to the next. Where the chain breaks with
// a unit boundary inside the last frame, the fragment ended at that boundary, and the rest of
// that frame opens the continuation: a unit whose bytes, that far in, start a frame of the same
// stream that is followed by another (or by the file's closing tag). Candidates are tried
// nearest first, after the boundary and then before it (never inside the pieces taken), and the
// chain is followed on from each, up to 16 fragments.
//
// The frames carry no file offsets, and another stream of the same encoding (or the stream's own
// later units) can hold a frame at the place looked at. So every candidate within reach is
// followed (256 units either way for a stream whose first frame gives its frame count, 64
// otherwise), a piece never overlaps another, an assembly with more frames than the count is
// dropped on the way, and the file is put together only when exactly one assembly passes the
// check (whose counts must match). Work is capped by the frame headers read (1 Mi) and the
// assemblies checked (16); a search that reaches a cap puts nothing together.
//
// A carve without closing tags is searched this way first, since the frames' end may be a cut.
// It is not whole (no pieces) when it began inside a stream (mp3_check.h), or when its last frame
// ran over a unit boundary and the stream evidently goes on but not in one way: a candidate went
// on with it, or the bytes past the boundary hold an ID3v2 tag or frames off the chain's grid.

#include <cstdint>
#include <vector>

#include "carve/format.h"
#include "carve/piece_source.h"
#include "platform/byte_source.h"

namespace kestrel {

bool ReassembleMp3(ByteSource& source, uint64_t start, uint64_t length, const ByteUnits& units,
                   std::vector<FilePiece>* pieces);

}  // namespace kestrel
