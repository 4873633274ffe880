#include "carve/formats/end_marker.h"

#include <algorithm>
#include <cstring>

namespace kestrel {
namespace {

template <size_t N>
bool Matches(const uint8_t* p, const char (&text)[N]) {
  return std::memcmp(p, text, N - 1) == 0;
}

// Bytes written from the start of the end sequence at `p`, 0 when none starts there.
uint32_t FixedEndAt(EndMarkerKind kind, const uint8_t* p) {
  switch (kind) {
    case EndMarkerKind::kAsx:
      return Matches(p, "</ASX>") || Matches(p, "</asx>") ? 6 : 0;
    case EndMarkerKind::kPng:
      return Matches(p, "IEND\xAE\x42\x60\x82") ? 8 : 0;
    case EndMarkerKind::kOleFragment:
      return Matches(p, "\xF4\x39\xB2\x71") ? 4 : 0;
    default:
      return 0;
  }
}

Fed FeedFixedEnd(EndMarkerState& state, const SectorInput& in) {
  for (uint32_t i = 0; i < in.count; ++i) {
    if (const uint32_t length = FixedEndAt(state.kind, in.data + i); length != 0) {
      state.complete = true;
      return Complete(uint64_t{i} + length);
    }
  }
  return More(in.count);
}

// Length of the RTF closing pattern that starts at `p`, 0 when there is none.
uint32_t RtfClosingPatternAt(const uint8_t* p) {
  if (Matches(p, "\\par }}")) return 7;
  if (Matches(p, "\\par }") || Matches(p, "b\\\n\\\n}")) return 6;
  return 0;
}

// A closing pattern ends the file when nothing but zero bytes follows it up to the 16th byte
// from its start (the slack of the file's last cluster).
constexpr uint32_t kRtfTrailerBytes = 16;

bool OnlyZerosAfterPattern(const uint8_t* pattern, uint32_t length) {
  return std::all_of(pattern + length, pattern + kRtfTrailerBytes,
                     [](uint8_t byte) { return byte == 0; });
}

Fed FeedRtf(EndMarkerState& state, const SectorInput& in) {
  for (uint32_t i = 0; i < in.count; ++i) {
    const uint8_t* p = in.data + i;
    const uint32_t length = RtfClosingPatternAt(p);
    if (length == 0) continue;
    state.complete = true;
    if (OnlyZerosAfterPattern(p, length)) return Complete(uint64_t{i} + length);
  }
  return More(in.count);
}

}  // namespace

Fed FeedEndMarker(EndMarkerState& state, const CarveView& view) {
  switch (state.kind) {
    case EndMarkerKind::kRtf:
      return FeedRtf(state, view.in);
    default:
      return FeedFixedEnd(state, view.in);
  }
}

Kept FinishEndMarker(const EndMarkerState& state) {
  return state.complete ? KeepAsIs() : Drop();
}

}  // namespace kestrel
