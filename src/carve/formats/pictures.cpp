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

}  // namespace

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
