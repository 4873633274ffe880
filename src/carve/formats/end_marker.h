#pragma once
// Files that end with a fixed byte sequence: ASX playlists ("</ASX>"), PNG (IEND and its CRC),
// compound-document fragments (F4 39 B2 71) and RTF (a closing pattern followed only by zero
// bytes up to its 16th byte). Sectors are taken until the end is found;
// an end sequence may run past the sector into the following source bytes.

#include <cstdint>

#include "carve/format.h"

namespace kestrel {

enum class EndMarkerKind : uint8_t { kAsx, kPng, kOleFragment, kRtf };

struct EndMarkerState {
  EndMarkerKind kind = EndMarkerKind::kAsx;
  // The end was found. RTF counts a closing pattern with more text after it: such a file is
  // kept also when a header ends it.
  bool complete = false;
};

Fed FeedEndMarker(EndMarkerState& state, const CarveView& view);
Kept FinishEndMarker(const EndMarkerState& state);

}  // namespace kestrel
