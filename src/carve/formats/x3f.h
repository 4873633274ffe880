#pragma once
// Sigma X3F: sectors are taken until the "SECd" directory; the file ends after its entries and
// the 32-bit directory offset.

#include <cstdint>

#include "carve/format.h"
#include "carve/formats/counted.h"
#include "carve/signature.h"

namespace kestrel {

struct X3fState {
  uint64_t directory_left = 0;  // directory bytes that lie in the following sectors
  bool complete = false;
};

Fed FeedX3f(X3fState& state, const CarveView& view);
// Only a file whose directory was taken whole is kept.
Kept FinishX3f(const X3fState& state);

template <>
struct FormatOps<X3fState> : Ops<FeedX3f, FinishX3f> {};

inline constexpr GuardMark kX3fGuard{"X3F"};

Match MatchX3f(const RowInput& r, Start* s);
inline constexpr SignatureRow kX3fRow{.test = MatchX3f,
                                      .gate = {0, "", "FO"},
                                      .guarded_by = {&kX3fGuard, &kSealedGuard},
                                      .selection = Bits({kX3f}),
                                      .extension = "X3F",
                                      .guards = {&kX3fGuard, &kMeasuredPictureGuard},
                                      .stop_check = false};

}  // namespace kestrel
