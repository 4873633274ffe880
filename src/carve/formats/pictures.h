#pragma once
// Pictures: a JPEG with a JFIF header is followed segment by segment to the end marker after its
// scan data; every other JPEG and GIF is taken up to its last end marker (FF D9; 00 3B), with a
// size cap.

#include <cstdint>

#include "carve/format.h"

namespace kestrel {

// A JPEG or GIF that grows this large without being finished is ended.
inline constexpr uint64_t kPictureSizeCap = 0xA00000;

struct JfifState {
  uint64_t segment_left = 0;  // bytes of the current segment still to come
  bool in_scan = false;       // past the start-of-scan marker: the end marker ends the file
  bool complete = false;
};

// Start values: the APP0 segment (its length + 4 from the file's start) comes first.
JfifState StartJfif(uint32_t app0_length);
Fed FeedJfif(JfifState& state, const CarveView& view);
Kept FinishJfif(const JfifState& state);

struct EndSearchState {
  uint8_t first = 0xFF;  // the end-marker pair
  uint8_t second = 0xD9;
  uint64_t end_offset = 0;  // length through the last end marker found; 0: none
};

EndSearchState StartJpegSearch();
EndSearchState StartGifSearch();
Fed FeedEndSearch(EndSearchState& state, const CarveView& view);
// Kept cut after its last end marker; a file that never showed one is no picture.
Kept FinishEndSearch(const EndSearchState& state);

}  // namespace kestrel
