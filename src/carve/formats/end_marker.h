#pragma once
// Files that end with a fixed byte sequence: ASX playlists ("</ASX>"), PNG (IEND and its CRC)
// and compound-document fragments (F4 39 B2 71). Sectors are taken until the end is found; an
// end sequence may run past the sector into the following source bytes.

#include <cstdint>

#include "carve/format.h"

namespace kestrel {

enum class EndMarkerKind : uint8_t { kAsx, kPng, kOleFragment };

struct EndMarkerState {
  EndMarkerKind kind = EndMarkerKind::kAsx;
  // The end was found.
  bool complete = false;
};

Fed FeedEndMarker(EndMarkerState& state, const CarveView& view);
Kept FinishEndMarker(const EndMarkerState& state);

}  // namespace kestrel
