#pragma once
// GIF: the file is taken up to the last end marker (00 3B) found before a size cap. (JPEG is
// walked by its structure: carve/formats/jpeg.h.)

#include <cstdint>

#include "carve/format.h"

namespace kestrel {

// A GIF that grows this large without being finished is ended.
inline constexpr uint64_t kPictureSizeCap = 0xA00000;

struct EndSearchState {
  uint8_t first = 0x00;  // the end-marker pair
  uint8_t second = 0x3B;
  uint64_t end_offset = 0;  // length through the last end marker found; 0: none
};

EndSearchState StartGifSearch();
Fed FeedEndSearch(EndSearchState& state, const CarveView& view);
// Kept cut after its last end marker; a file that never showed one is no picture.
Kept FinishEndSearch(const EndSearchState& state);

}  // namespace kestrel
