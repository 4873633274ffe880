#pragma once
// Picture carving: JPEG with a JFIF header (segment walk), every other JPEG (end-marker search
// with a size cap) and GIF (trailer search with the same cap).

#include <cstdint>

#include "carve/carve_session.h"

namespace kestrel {

// A JPEG or GIF that grows this large without being finished is ended.
inline constexpr uint64_t kPictureSizeCap = 0xA00000;

// JFIF segment walk. The dispatch sets byte_count = APP0 length + 4, jfif_walk, !jfif_in_scan.
void CarveJfif(CarveSession& s, const SectorInput& in);
// End-marker searches; the dispatch sets byte_count = 0. The file stays open until finished.
void CarveJpegToEoi(CarveSession& s, const SectorInput& in);
void CarveGifToTrailer(CarveSession& s, const SectorInput& in);
// Later sectors of a GIF or of a JPEG that is not walked: the size cap, then the search.
void ContinuePicture(CarveSession& s, const SectorInput& in, uint8_t type_code);

}  // namespace kestrel
