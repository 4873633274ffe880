#pragma once
// QuickTime and ISO base media movies (MP4, 3GP, M4A, HEIC): a walk over the top-level atoms
// (64-bit sizes included), carried across sectors. The movie ends where the next bytes are no
// top-level atom, or with the source.

#include <cstdint>

#include "carve/format.h"
#include "carve/formats/counted.h"
#include "carve/formats/zip.h"
#include "carve/signature.h"

namespace kestrel {

// The top-level atoms a movie has held, one bit each.
enum MovAtomSeen : uint8_t {
  kSeenMoov = 1u << 0,
  kSeenMdat = 1u << 1,
  kSeenMeta = 1u << 2,
};

struct MovState {
  // Bytes left in the current top-level atom; 0 when the walk stands on an atom boundary.
  uint64_t atom_left = 0;
  bool complete = false;
  // Its media data reaches past the source's end: the movie ended before it, and may lie in
  // fragments whose order the source does not keep.
  bool cut_short = false;
  // Started by an "ftyp" atom (which is then taken as the first atom only).
  bool file_type = false;
  // An image file (HEIF): its pictures are described by a meta atom, not a moov.
  bool image = false;
  uint8_t seen = 0;
  // The extension the major brand names; null keeps the opened one (MOV).
  const char* extension = nullptr;
};

// An atom that is shorter than its own header refuses the movie, and so does one that reaches
// past the source's end, except media data after the movie's first atom: the movie ends before
// it (cut short). A size of 0 (the atom runs to the end of its file, which a raw scan cannot know)
// ends the movie before that atom.
Fed FeedMov(MovState& state, const CarveView& view);
// Kept when the walk ended at an atom boundary and the movie holds its media data and its
// description: mdat with moov (meta for a HEIF image).
// Its sample tables must then show it whole (mov_check).
Kept FinishMov(const MovState& state);

template <>
struct FormatOps<MovState> : Ops<FeedMov, FinishMov> {};

inline constexpr GuardMark kMovGuard{"MOV"};

// A sector that starts with a top-level atom of a movie's usual kinds (mdat, moov, free, skip,
// wide).
Match MatchMov(const RowInput& r, Start* s);
inline constexpr SignatureRow kMovRow{.test = MatchMov,
                                      .gate = {4, "mfsw"},
                                      .guarded_by = {&kZipGuard, &kMovGuard, &kSealedGuard},
                                      .selection = Bits({kMov}),
                                      .extension = "MOV",
                                      .guards = {&kMovGuard}};

}  // namespace kestrel
