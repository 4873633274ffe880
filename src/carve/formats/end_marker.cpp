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

}  // namespace

Fed FeedEndMarker(EndMarkerState& state, const CarveView& view) {
  return FeedFixedEnd(state, view.in);
}

Kept FinishEndMarker(const EndMarkerState& state) {
  return state.complete ? KeepAsIs() : Drop();
}

Match MatchAsx(const RowInput& r, Start* s) {
  if (!r.h.StartsWith(0, "<ASX") && !r.h.StartsWith(0, "<asx")) return Match::kNo;
  return Opens(s, EndMarkerState{EndMarkerKind::kAsx});
}

Match MatchPng(const RowInput& r, Start* s) {
  return r.h.StartsWith(0, "\x89PNG") ? Opens(s, EndMarkerState{EndMarkerKind::kPng}) : Match::kNo;
}

Match MatchOleFragment(const RowInput& r, Start* s) {
  if (!r.h.StartsWith(0, "\xD0\xCF\x11\xE0") || r.h.StartsWith(4, "\xA1\xB1\x1A\xE1")) {
    return Match::kNo;
  }
  return Opens(s, EndMarkerState{EndMarkerKind::kOleFragment});
}

}  // namespace kestrel
