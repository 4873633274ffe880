#pragma once
// RIFF and IFF files whose header states their length: AVI and WAV (RIFF), AIFF (IFF "FORM").
// A header that describes real audio or video seals its length (carve/formats/counted.h). A
// kept file's chunks must show it whole (riff_check.h); an AVI found in fragments is put back
// together by its index (avi_reassembly.h).

#include "carve/formats/counted.h"
#include "carve/formats/zip.h"
#include "carve/signature.h"

namespace kestrel {

inline constexpr GuardMark kAviGuard{"AVI"};
inline constexpr GuardMark kWavGuard{"WAV"};

Match MatchAiff(const RowInput& r, Start* s);
Match MatchAvi(const RowInput& r, Start* s);
Match MatchWav(const RowInput& r, Start* s);

inline constexpr SignatureRow kAiffRow{.test = MatchAiff,
                                       .gate = {0, "F"},
                                       .guarded_by = {&kZipGuard},
                                       .selection = Bits({kAif}),
                                       .extension = "AIF",
                                       .guards = {}};
inline constexpr SignatureRow kAviRow{.test = MatchAvi,
                                      .gate = {0, "R"},
                                      .guarded_by = {&kZipGuard, &kAviGuard},
                                      .selection = Bits({kAvi}),
                                      .extension = "AVI",
                                      .guards = {&kAviGuard}};
inline constexpr SignatureRow kWavRow{.test = MatchWav,
                                      .gate = {0, "R"},
                                      .guarded_by = {&kZipGuard, &kWavGuard},
                                      .selection = Bits({kWav}),
                                      .extension = "WAV",
                                      .guards = {&kWavGuard}};

}  // namespace kestrel
