#pragma once
// TIFF files and the camera RAW formats built on TIFF (NEF, DCR, KDC, SRF, PEF, ORF). They carry
// no end marker: at its first sector the file is measured from its IFDs (reading the directories
// it needs from the source) up to the furthest byte they reference, exactly that many bytes are
// taken, and the file is kept under the camera maker's extension, or dropped.

#include <cstdint>

#include "carve/format.h"
#include "carve/formats/tiff_state.h"
#include "carve/formats/zip.h"
#include "carve/signature.h"

namespace kestrel {

struct TiffStart {
  bool orf_name = false;
  bool always_keep = false;
  bool kodak_dc = false;
};

// The start values of the file whose header is the sector in `view`.
TiffState StartTiff(const CarveView& view, const TiffStart& start);
// Refuses a file that cannot be measured: a maker whose type is not selected, an IFD or a strip
// outside the source, an estimate reaching past the source's end.
Fed FeedTiff(TiffState& state, const CarveView& view);
// A measured file is kept under its maker's extension, or when it is named ORF or TIF is
// selected. A file ended early by a header is kept only when its header says so (always_keep).
Kept FinishTiff(const TiffState& state, const TypeSet& selected);

template <>
struct FormatOps<TiffState> : Ops<FeedTiff, FinishTiff> {};

// TIFF and the camera formats built on it.
inline constexpr GuardMark kRawGuard{"RAW"};

// A Kodak DC header ("MM" with "Kodak DC" at 470), when KDC is selected.
Match MatchKodak(const RowInput& r, Start* s);
// Without KDC selected, a Kodak DC header is taken by nothing.
Match MatchKodakSkip(const RowInput& r, Start* s);
// A TIFF or ORF header, or the Exif-in-JPEG mark of ORF; an ORF while ORF is not selected ends
// the open file and starts nothing.
Match MatchTiff(const RowInput& r, Start* s);

inline constexpr SignatureRow kKodakRow{.test = MatchKodak,
                                        .gate = {0, "M"},
                                        .guarded_by = {&kRawGuard},
                                        .selection = Bits({kKdc}),
                                        .extension = "TIF",
                                        .guards = {&kRawGuard, &kMeasuredPictureGuard}};
inline constexpr SignatureRow kKodakSkipRow{.test = MatchKodakSkip,
                                            .gate = {0, "M"},
                                            .guarded_by = {},
                                            .selection = {},
                                            .extension = "",
                                            .guards = {}};
inline constexpr SignatureRow kTiffRow{.test = MatchTiff,
                                       .gate = {0, "IM", "\xFF\xD8"},
                                       .guarded_by = {&kZipGuard, &kRawGuard},
                                       .selection = Bits({kDcr, kNef, kOrf, kPef, kSrf, kTif}),
                                       .extension = "TIF",
                                       .guards = {&kRawGuard, &kMeasuredPictureGuard}};

}  // namespace kestrel
