#pragma once
// Windows bitmaps, icons and cursors: their headers state the file's length (BMP) or list the
// images with their sizes (ICO, CUR). A bitmap whose information header is sound seals its
// length (carve/formats/counted.h).

#include "carve/formats/counted.h"
#include "carve/formats/zip.h"
#include "carve/signature.h"

namespace kestrel {

Match MatchBmp(const RowInput& r, Start* s);
Match MatchCursor(const RowInput& r, Start* s);
Match MatchIcon(const RowInput& r, Start* s);

inline constexpr SignatureRow kBmpRow{.test = MatchBmp,
                                      .gate = {0, "B"},
                                      .guarded_by = {&kZipGuard, &kSealedGuard},
                                      .selection = Bits({kBmp}),
                                      .extension = "BMP",
                                      .guards = {}};
inline constexpr SignatureRow kCursorRow{.test = MatchCursor,
                                         .gate = {0, std::string_view("\0", 1)},
                                         .guarded_by = {&kZipGuard, &kSealedGuard},
                                         .selection = Bits({kCur}),
                                         .extension = "CUR",
                                         .guards = {}};
inline constexpr SignatureRow kIconRow{.test = MatchIcon,
                                       .gate = {0, std::string_view("\0", 1)},
                                       .guarded_by = {&kZipGuard, &kSealedGuard},
                                       .selection = Bits({kIco}),
                                       .extension = "ICO",
                                       .guards = {}};

}  // namespace kestrel
