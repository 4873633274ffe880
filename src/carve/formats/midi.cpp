#include "carve/formats/midi.h"

#include <algorithm>
#include <cstring>

#include "platform/byte_order.h"

namespace kestrel {
namespace {

constexpr uint16_t kUnknownTrackCount = 0xFFFF;
// "MThd", its 32-bit length and the format, track count and division words.
constexpr uint32_t kHeaderChunkBytes = 14;

uint32_t TracksLeftFor(const uint8_t* header) {
  const uint16_t tracks = LoadBe16(header + 10);
  return tracks == kUnknownTrackCount ? 2u : 1u + tracks;
}

// Position in the sector where the file ends, or `in.count` when it goes on; the walk starts at
// `start`. The chunk header and length of a track that starts near the sector's end are read
// from the following bytes.
uint32_t FindEnd(MidiState& state, const SectorInput& in, uint32_t start) {
  for (uint32_t i = start; i < in.count; ++i) {
    if (std::memcmp(in.data + i, "MTrk", 4) == 0) {
      state.track_left = uint64_t{LoadBe32(in.data + i + 4)} + 8;
      state.tracks_left -= 1;
      // A chunk beyond the announced count belongs to something else.
      if (state.tracks_left == 0) return i;
    }
    if (state.track_left == 0 && state.tracks_left == 1) return i;
    if (state.track_left > 0) state.track_left -= 1;
  }
  return in.count;
}

Fed Ended(MidiState& state, uint64_t write) {
  state.complete = true;
  Fed fed = More(write);
  fed.release_guard = true;
  return fed;
}

}  // namespace

Fed FeedMidi(MidiState& state, const CarveView& view) {
  const SectorInput& in = view.in;
  uint32_t start = 0;
  if (!state.started) {
    state.started = true;
    state.tracks_left = TracksLeftFor(in.data);
    // The file is at least its header chunk, also when it announces no track.
    start = std::min(kHeaderChunkBytes, in.count);
  }
  if (state.complete) return More(0);
  const uint32_t end = FindEnd(state, in, start);
  if (end < in.count) return Ended(state, end);
  if (state.track_left == 0 && state.tracks_left == 1) return Ended(state, in.count);
  return More(in.count);
}

Kept FinishMidi(const MidiState& state) {
  return state.complete ? KeepAsIs() : Drop();
}

Match MatchMidi(const RowInput& r, Start* s) {
  return r.h.StartsWith(0, "MThd") ? Opens(s, MidiState{}) : Match::kNo;
}

}  // namespace kestrel
