#pragma once
// The "ftyp" atom that starts an ISO base media file (MP4, 3GP, M4A, HEIC, and QuickTime movies
// written since), and the name its major brand gives the file.

#include <cstdint>

#include "carve/formats/mov.h"
#include "carve/formats/zip.h"
#include "carve/signature.h"

namespace kestrel {

// Whether `header` (at least 16 readable bytes) starts a sane file type atom: a size of 16 to
// 256 bytes, a multiple of 4, the type "ftyp" and a printable major brand.
bool IsFileTypeAtom(const uint8_t* header);

// The extension the major brand (4 bytes) names: MP4, MOV, 3GP, M4A or HEIC; null for a brand
// not known here (the movie keeps its MOV name).
const char* BrandExtension(const uint8_t* brand);

// The walk's start values for a movie whose first atom is the file type atom at `header`.
MovState StartFileTypeMovie(const uint8_t* header);

Match MatchFileType(const RowInput& r, Start* s);
inline constexpr SignatureRow kFileTypeRow{.test = MatchFileType,
                                           .gate = {4, "f"},
                                           .guarded_by = {&kZipGuard, &kMovGuard},
                                           .selection = Bits({kMov}),
                                           .extension = "MOV",
                                           .guards = {&kMovGuard}};

}  // namespace kestrel
