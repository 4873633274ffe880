#include "carve/formats/pictures.h"

#include <cstring>

#include "carve/structured_bytes.h"

namespace kestrel {
namespace {

// First position i in [from, count) where data[i], data[i + 1] is the marker pair; the pair at
// count - 1 takes its second byte from the following source byte. -1 when there is none.
int64_t FindMarkerPair(const uint8_t* data, uint32_t from, uint32_t count, uint8_t first,
                       uint8_t second) {
  const uint8_t* at = data + from;
  const uint8_t* end = data + count;
  while (at < end) {
    at = static_cast<const uint8_t*>(std::memchr(at, first, static_cast<size_t>(end - at)));
    if (at == nullptr) return -1;
    if (at[1] == second) return at - data;
    ++at;
  }
  return -1;
}

// The file through the first end marker at or after `from`; none: the whole sector.
Fed ThroughEoi(JfifState& state, const SectorInput& in, uint32_t from) {
  const int64_t at = FindMarkerPair(in.data, from, in.count, 0xFF, 0xD9);
  if (at < 0) return More(in.count);
  state.complete = true;
  return Complete(static_cast<uint64_t>(at) + 2);
}

}  // namespace

JfifState StartJfif(uint32_t app0_length) {
  JfifState state;
  state.segment_left = uint64_t{app0_length} + 4;
  return state;
}

Fed FeedJfif(JfifState& state, const CarveView& view) {
  const SectorInput& in = view.in;
  const uint32_t count = in.count;
  if (state.in_scan) return ThroughEoi(state, in, 0);
  if (state.segment_left > count) {
    state.segment_left -= count;
    return More(count);
  }
  // The rest of the current segment, then the segments that start in this sector. A marker may
  // start at `count` (a segment ending on the sector boundary) or run past it: the look-ahead
  // holds the real following bytes.
  uint32_t a = static_cast<uint32_t>(state.segment_left);
  state.segment_left = 0;
  while (true) {
    if (LoadBe16(in.data + a) == 0xFFDA) {
      state.in_scan = true;
      return a < count ? ThroughEoi(state, in, a) : More(count);
    }
    const uint32_t segment = 2 + LoadBe16(in.data + a + 2);
    if (a + segment > count) {
      state.segment_left = segment - (count - a);
      return More(count);
    }
    a += segment;
  }
}

Kept FinishJfif(const JfifState& state) {
  return state.complete ? KeepAsIs() : Drop();
}

EndSearchState StartJpegSearch() {
  return {0xFF, 0xD9, 0};
}

EndSearchState StartGifSearch() {
  return {0x00, 0x3B, 0};
}

Fed FeedEndSearch(EndSearchState& state, const CarveView& view) {
  // The cap is tested before a sector is taken: the sector that would pass it is not written.
  if (view.written >= kPictureSizeCap) return Complete(0);
  const SectorInput& in = view.in;
  const int64_t at = FindMarkerPair(in.data, 0, in.count, state.first, state.second);
  if (at >= 0) state.end_offset = view.written + static_cast<uint64_t>(at) + 2;
  return More(in.count);
}

Kept FinishEndSearch(const EndSearchState& state) {
  if (state.end_offset == 0) return Drop();
  Kept kept = KeepAsIs();
  kept.cut = state.end_offset;
  return kept;
}

}  // namespace kestrel
