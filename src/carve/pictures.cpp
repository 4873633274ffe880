#include "carve/pictures.h"

#include <cstring>

namespace kestrel {
namespace {

// First position i < count where data[i], data[i + 1] is the marker pair; the pair at count - 1
// takes its second byte from the following source byte. -1 when there is none.
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

uint32_t ReadBe16(const uint8_t* p) {
  return static_cast<uint32_t>(p[0] << 8 | p[1]);
}

void CarveToEndMarker(CarveSession& s, const SectorInput& in, uint8_t first, uint8_t second) {
  int64_t at = FindMarkerPair(in.data, 0, in.count, first, second);
  if (at >= 0) {
    s.st.end_offset = s.st.byte_count + static_cast<uint64_t>(at) + 2;
    s.st.file_complete = true;
  }
  s.Write(in.data, in.count);
  s.st.byte_count += in.count;
}

// The JFIF file is complete: it is closed and listed at once.
void EndJfifFile(CarveSession& s) {
  s.st.jfif_walk = false;
  const uint64_t length = s.out().Length();
  s.CloseAndList();
  s.st.end_offset = length;
  s.st.file_complete = false;
  s.st.jpeg_open = false;
  s.st.open_types = 0;
}

// Writes up to and including the first EOI at or after `from`; false when there is none.
bool WriteThroughEoi(CarveSession& s, const SectorInput& in, uint32_t from) {
  int64_t at = FindMarkerPair(in.data, from, in.count, 0xFF, 0xD9);
  if (at < 0) return false;
  s.Write(in.data + from, static_cast<size_t>(at) + 2 - from);
  EndJfifFile(s);
  return true;
}

}  // namespace

void CarveJpegToEoi(CarveSession& s, const SectorInput& in) {
  CarveToEndMarker(s, in, 0xFF, 0xD9);
}

void CarveGifToTrailer(CarveSession& s, const SectorInput& in) {
  CarveToEndMarker(s, in, 0x00, 0x3B);
}

void ContinuePicture(CarveSession& s, const SectorInput& in, uint8_t type_code) {
  if (s.st.byte_count >= kPictureSizeCap) {
    s.st.file_complete = true;
    s.st.picture_open = false;
    s.FinishCarvedFile(type_code);
    return;
  }
  if (s.st.open_types == 0) return;
  if (type_code == kGif) CarveGifToTrailer(s, in);
  if (type_code == kJpg) CarveJpegToEoi(s, in);
}

void CarveJfif(CarveSession& s, const SectorInput& in) {
  CarveState& st = s.st;
  const uint32_t count = in.count;
  if (st.jfif_in_scan) {
    if (!WriteThroughEoi(s, in, 0)) s.Write(in.data, count);
    return;
  }
  if (st.byte_count > count) {
    s.Write(in.data, count);
    st.byte_count -= count;
    return;
  }
  // The rest of the current segment, then the segments that start in this sector. A marker may
  // start at `count` (a segment ending on the sector boundary) or run past it: the look-ahead
  // holds the real following bytes.
  uint32_t a = static_cast<uint32_t>(st.byte_count);
  s.Write(in.data, a);
  st.byte_count = 0;
  while (true) {
    const uint32_t marker = ReadBe16(in.data + a);
    if (marker == 0xFFDA) {
      st.jfif_in_scan = true;
      if (a < count && WriteThroughEoi(s, in, a)) return;
      s.Write(in.data + a, count - a);
      st.byte_count = count;
      return;
    }
    const uint32_t segment = 2 + ReadBe16(in.data + a + 2);
    if (a + segment > count) {
      s.Write(in.data + a, count - a);
      st.byte_count = segment - (count - a);
      return;
    }
    s.Write(in.data + a, segment);
    a += segment;
  }
}

}  // namespace kestrel
