#pragma once
// Canon CRW (CIFF): sectors are taken until the root directory's raw-image record (0x2005 at heap
// offset 0) appears; the file ends after the directory's records and its 32-bit offset.

#include <cstdint>

#include "carve/format.h"
#include "carve/formats/zip.h"
#include "carve/signature.h"

namespace kestrel {

struct CrwState {
  bool big_endian = false;
  bool in_directory = false;  // the directory was found; `directory_left` bytes still to come
  uint64_t directory_left = 0;
};

Fed FeedCrw(CrwState& state, const CarveView& view);
// A file ended by a header inside its directory is kept with what it has.
Kept FinishCrw(const CrwState& state);

template <>
struct FormatOps<CrwState> : Ops<FeedCrw, FinishCrw> {};

inline constexpr GuardMark kCrwGuard{"CRW"};

Match MatchCrw(const RowInput& r, Start* s);
inline constexpr SignatureRow kCrwRow{.test = MatchCrw,
                                      .gate = {0, "IM"},
                                      .guarded_by = {&kZipGuard, &kCrwGuard},
                                      .selection = Bits({kCrw}),
                                      .extension = "CRW",
                                      .guards = {&kCrwGuard, &kMeasuredPictureGuard}};

}  // namespace kestrel
