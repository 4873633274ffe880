#include "carve/midi.h"

#include <algorithm>
#include <cstring>

namespace kestrel {
namespace {

constexpr uint16_t kUnknownTrackCount = 0xFFFF;
// "MThd", its 32-bit length and the format, track count and division words.
constexpr uint32_t kHeaderChunkBytes = 14;

uint32_t ReadBe32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// "Track chunks still expected plus one" for the header's track count. A count of 0xFFFF is
// not a real file's: such a file is taken to hold one track.
uint32_t TracksLeftFor(const uint8_t* header) {
  const uint16_t tracks = static_cast<uint16_t>((header[10] << 8) | header[11]);
  return tracks == kUnknownTrackCount ? 2u : 1u + tracks;
}

void MarkComplete(CarveState& st) {
  st.file_complete = true;
  st.mid_open = false;
}

// Position in the sector where the file ends, or `in.count` when it goes on; the walk starts at
// `start`. The chunk header and length of a track that starts near the sector's end are read
// from the following bytes.
uint32_t FindEnd(CarveState& st, const SectorInput& in, uint32_t start) {
  for (uint32_t i = start; i < in.count; ++i) {
    if (std::memcmp(in.data + i, "MTrk", 4) == 0) {
      st.track_length = ReadBe32(in.data + i + 4);
      st.track_left = uint64_t{st.track_length} + 8;
      st.tracks_left -= 1;
      // A chunk beyond the announced count belongs to something else.
      if (st.tracks_left == 0) return i;
    }
    if (st.track_left == 0 && st.tracks_left == 1) return i;
    if (st.track_left > 0) st.track_left -= 1;
  }
  return in.count;
}

}  // namespace

void CarveMidi(CarveSession& s, const SectorInput& in, bool first) {
  CarveState& st = s.st;
  if (!st.file_open) return;
  uint32_t start = 0;
  if (first) {
    st.tracks_left = TracksLeftFor(in.data);
    st.track_length = 0;
    st.track_left = 0;
    st.file_complete = false;
    // The file is at least its header chunk, also when it announces no track.
    start = std::min(kHeaderChunkBytes, in.count);
  }
  // The end was found in an earlier sector: what follows is not part of the file.
  if (st.file_complete) return;
  const uint32_t end = FindEnd(st, in, start);
  if (end < in.count) {
    s.Write(in, end);
    MarkComplete(st);
    return;
  }
  s.Write(in, in.count);
  if (st.track_left == 0 && st.tracks_left == 1) MarkComplete(st);
}

}  // namespace kestrel
