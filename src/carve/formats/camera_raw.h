#pragma once
// Camera RAW files whose length follows from their header: Fuji RAF (the two length fields
// before its embedded JPEG) and Minolta MRW (the image size its PRD block describes).

#include "carve/formats/counted.h"
#include "carve/formats/jpeg.h"
#include "carve/formats/zip.h"
#include "carve/signature.h"

namespace kestrel {

inline constexpr GuardMark kRafGuard{"RAF"};
inline constexpr GuardMark kMrwGuard{"MRW"};

Match MatchRaf(const RowInput& r, Start* s);
Match MatchMrw(const RowInput& r, Start* s);

inline constexpr SignatureRow kRafRow{.test = MatchRaf,
                                      .gate = {0, "", "FU"},
                                      .guarded_by = {&kZipGuard, &kRafGuard},
                                      .selection = Bits({kRaf}),
                                      .extension = "RAF",
                                      .guards = {&kRafGuard, &kMeasuredPictureGuard}};
inline constexpr SignatureRow kMrwRow{.test = MatchMrw,
                                      .gate = {0, std::string_view("\0", 1)},
                                      .guarded_by = {&kZipGuard, &kMrwGuard, &kJpegGuard},
                                      .selection = Bits({kMrw}),
                                      .extension = "MRW",
                                      .guards = {&kMrwGuard, &kMeasuredPictureGuard}};

}  // namespace kestrel
