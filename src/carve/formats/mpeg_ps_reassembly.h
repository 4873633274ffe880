#pragma once
// An MPEG program stream found in fragments, in order or out of order, with foreign allocation
// units between them. Its units chain (each pack header, system header and packet starts where
// the one before ends), and one writer's stream is steady: its packs state one mux rate, their
// clock references rise by at most a second, and its video's slices and time stamps go on
// (mpeg_ps_check.h, mpeg_video_track.h). The chain is followed from the stream's first pack;
// where it stops short of a program end code, the fragment ended at a unit boundary inside the
// last unit that fit or just after it (a little before, when a unit broke the rules there), and
// the chain goes on at the same place of another unit within 256 units either way of the cut
// (unit_candidates.h) that holds a unit start there. Each candidate is followed up to 4 units
// past the cut, and must meet nothing that breaks the rules; of those, the one whose first pack's
// clock comes next goes on (its own packs' clocks only rise, so the stream's next pack has the
// nearest clock), then the one followed furthest. Two alike leave its place unknown: the stream
// is then not whole. It ends where no candidate goes on (its end, when it has no end code), at
// its end code, or at the source's end, after at most 16 fragments.
//
// Bounded per stream: 256 candidates followed (past that, nothing is put together), 16
// boundaries tried per cut; the stream itself is followed once per fragment.

#include <cstdint>
#include <vector>

#include "carve/format.h"
#include "carve/piece_source.h"
#include "platform/byte_source.h"

namespace kestrel {

// The pieces of the stream that starts at byte `start` of `source`; false when it lies in one
// piece (or the search ran out), true with none when it goes on but two candidates fit alike.
bool ReassembleMpeg(ByteSource& source, uint64_t start, uint64_t length, const ByteUnits& units,
                    std::vector<FilePiece>* pieces);

}  // namespace kestrel
