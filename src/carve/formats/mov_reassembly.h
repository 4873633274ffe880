#pragma once
// A QuickTime or ISO base media movie (MOV, MP4) found in fragments, in order or out of order,
// with foreign allocation units between them.
//
// Its top-level atoms up to the media data (mdat), or up to the movie box (moov) when that comes
// first, lie in its first fragment. A movie box after the media data is looked for where the media
// data's size puts it (mov_movie_box.h: in the units within reach, its tracks' chunks inside the
// media data); a movie box that comes first is put together where it starts, and is followed by
// the top-level atoms up to the media data.
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
// At most 16 fragments, 8 boundaries per gap, 2,000,000 samples, 4,000,000 NAL units read and
// 64 Ki chain trials per file.

#include <cstdint>
#include <vector>

#include "carve/format.h"
#include "carve/piece_source.h"
#include "platform/byte_source.h"

namespace kestrel {

bool ReassembleMov(ByteSource& source, uint64_t start, uint64_t length, const ByteUnits& units,
                   std::vector<FilePiece>* pieces);

}  // namespace kestrel
