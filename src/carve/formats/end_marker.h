#pragma once
// Files that end with a fixed byte sequence: ASX playlists ("</ASX>"), PNG (IEND and its CRC)
// and compound-document fragments (F4 39 B2 71). Sectors are taken until the end is found; an
// end sequence may run past the sector into the following source bytes.

#include <cstdint>

#include "carve/format.h"
#include "carve/formats/zip.h"
#include "carve/signature.h"

namespace kestrel {

enum class EndMarkerKind : uint8_t { kAsx, kPng, kOleFragment };

struct EndMarkerState {
  EndMarkerKind kind = EndMarkerKind::kAsx;
  // The end was found.
  bool complete = false;
};

Fed FeedEndMarker(EndMarkerState& state, const CarveView& view);
Kept FinishEndMarker(const EndMarkerState& state);

template <>
struct FormatOps<EndMarkerState> : Ops<FeedEndMarker, FinishEndMarker> {};

inline constexpr GuardMark kPngGuard{"PNG"};

Match MatchAsx(const RowInput& r, Start* s);
Match MatchPng(const RowInput& r, Start* s);
// D0 CF 11 E0 not followed by the rest of the compound-document signature.
Match MatchOleFragment(const RowInput& r, Start* s);

inline constexpr SignatureRow kAsxRow{.test = MatchAsx,
                                      .gate = {0, "<"},
                                      .guarded_by = {&kZipGuard},
                                      .selection = Bits({kAsx}),
                                      .extension = "ASX",
                                      .guards = {}};
inline constexpr SignatureRow kPngRow{.test = MatchPng,
                                      .gate = {0, "\x89"},
                                      .guarded_by = {&kZipGuard, &kPngGuard},
                                      .selection = Bits({kPng}),
                                      .extension = "PNG",
                                      .guards = {&kPngGuard},
                                      .on_guard = OnGuard::kSkipToRtf};
inline constexpr SignatureRow kOleFragmentRow{.test = MatchOleFragment,
                                              .gate = {0, "\xD0"},
                                              .guarded_by = {&kZipGuard},
                                              .selection = Bits({kDoc}),
                                              .extension = "DOC",
                                              .guards = {}};

}  // namespace kestrel
