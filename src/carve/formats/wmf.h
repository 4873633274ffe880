#pragma once
// Windows metafiles, placeable (with the Aldus header) and plain: the header states the file's
// length in 16-bit words.

#include "carve/formats/compound_doc.h"
#include "carve/formats/counted.h"
#include "carve/signature.h"

namespace kestrel {

inline constexpr GuardMark kWmfGuard{"WMF"};

// A placeable header that is not valid goes on at the RTF row.
Match MatchPlaceableWmf(const RowInput& r, Start* s);
Match MatchPlainWmf(const RowInput& r, Start* s);

inline constexpr SignatureRow kPlaceableWmfRow{.test = MatchPlaceableWmf,
                                               .gate = {0, "\xD7"},
                                               .guarded_by = {&kWmfGuard},
                                               .selection = Bits({kWmf}),
                                               .extension = "WMF",
                                               .guards = {&kWmfGuard},
                                               .on_guard = OnGuard::kSkipToRtf};
inline constexpr SignatureRow kPlainWmfRow{.test = MatchPlainWmf,
                                           .gate = {0, "\x01"},
                                           .guarded_by = {&kOleGuard, &kWmfGuard, &kSealedGuard},
                                           .selection = Bits({kWmf}),
                                           .extension = "WMF",
                                           .guards = {&kWmfGuard}};

}  // namespace kestrel
