#pragma once
// Files that end with a fixed byte sequence: MPEG program streams (00 00 01 B9), ASX playlists
// ("</ASX>"), PNG (IEND and its CRC), compound-document fragments (F4 39 B2 71), MP3 opened at an
// ID3v2 tag (a 128-byte ID3v1 tag). Sectors are taken until the end is found; an end sequence may
// run past the sector into the following source bytes.

#include <cstdint>

#include "carve/format.h"

namespace kestrel {

enum class EndMarkerKind : uint8_t { kMpg, kAsx, kPng, kOleFragment, kMp3 };

struct EndMarkerState {
  EndMarkerKind kind = EndMarkerKind::kMpg;
  // The end was found.
  bool complete = false;
};

Fed FeedEndMarker(EndMarkerState& state, const CarveView& view);
Kept FinishEndMarker(const EndMarkerState& state);

}  // namespace kestrel
