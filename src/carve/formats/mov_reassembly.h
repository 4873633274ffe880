#pragma once
// A QuickTime or ISO base media movie (MOV, MP4) found in fragments, in order or out of order,
// with foreign allocation units between them.
//
// Its top-level atoms up to the media data (mdat), or up to the movie box (moov) when that comes
// first, lie in its first fragment. A movie box after the media data is looked for where the media
// data's size puts it, at that place in every unit within 256 of the file's start and of that
// place (its header "moov" with a movie header "mvhd" of 108 or 120 bytes first inside). A movie
// box counts when its tracks read and their chunks lie inside the media data without overlapping;
// copies of one box are one, two that differ leave the file unknown. A movie box that does not read
// in one piece may be cut at one of its unit boundaries (one only, within 16 units): it goes on
// from the one unit within reach with which it reads and fits. A movie box that comes first is
// followed by the top-level atoms up to the media data.
//
// The sample tables then give every sample's place and size, and each H.264 or H.265 sample is a
// chain of length-prefixed NAL units that ends exactly at its size, each AAC frame starts with a
// channel element of tag 0, a data stream or a fill element: these, and the movie box after the
// media data, are checked in file order. One that does not hold where the fragments found so far
// put it was cut off at a unit boundary after the last bytes a chain or the movie box proved (an
// AAC frame's first byte may hold by chance: it proves nothing), and goes on from the unit within
// 256 either way of the cut (unit_candidates.h) with which the most checks within 16 units hold;
// two alike leave the file's pieces unknown. A cut inside a sample longer than a unit with no
// check between it and the next is not placed. A movie whose movie box comes first ends with its
// media data: its tail after the last bytes proved must hold no unit boundary (a cut there could
// not be told).
//
// At most 16 fragments, 8 boundaries per gap, 2,000,000 samples, 4,000,000 NAL units read, 64 Ki
// chain trials, 4,096 movie box trials and 64 MiB of movie boxes read per file; a movie box over
// 16 MiB is not looked for.

#include <cstdint>
#include <vector>

#include "carve/format.h"
#include "carve/piece_source.h"
#include "platform/byte_source.h"

namespace kestrel {

bool ReassembleMov(ByteSource& source, uint64_t start, uint64_t length, const ByteUnits& units,
                   std::vector<FilePiece>* pieces);

}  // namespace kestrel
