#pragma once
// Length-driven files: formats whose header states the file's total length (AIF, AVI, BMP, CUR,
// ICO, MRW, MSF, MSV, PST, RAF, SND, WAV, WMF, WMV). Exactly that many bytes are taken. The
// signatures of SND, WMV, MSV, MSF and PST are here; the others are in their families' modules.

#include <cstdint>

#include "carve/format.h"
#include "carve/formats/zip.h"
#include "carve/signature.h"

namespace kestrel {

struct CountedState {
  uint64_t left = 0;  // bytes still expected
  // A file ended early by another header is finished with what it has (WMV), and its check
  // decides.
  bool keep_unfinished = false;
  // The format's structural check of the kept file, if it has one.
  WholeCheck check = nullptr;
  // Its search for the file's pieces when the check finds foreign units inside, if it has one.
  Reassemble reassemble = nullptr;
};

// A stated length of 0 is no file.
Fed FeedCounted(CountedState& state, const CarveView& view);
Kept FinishCounted(const CountedState& state);

template <>
struct FormatOps<CountedState> : Ops<FeedCounted, FinishCounted> {};

// A file whose validated header states its length: no header inside that length starts a file
// (a WAV's samples or a bitmap's pixels may begin with FF D8 at a sector start).
inline constexpr GuardMark kSealedGuard{"sealed"};
inline constexpr GuardMark kWmvGuard{"WMV"};
inline constexpr GuardMark kMsvGuard{"MSV"};
inline constexpr GuardMark kMsfGuard{"MSF"};

// A file of `length` bytes from its header on, kept when `check` (if any) finds it whole, or
// when `reassemble` (if any) finds its pieces and `check` finds them whole.
Match Counted(Start* start, uint64_t length, bool keep_unfinished = false,
              WholeCheck check = nullptr, Reassemble reassemble = nullptr);
// A length-driven file whose header is valid beyond its signature: its stated length is
// trusted, and the signatures that the data of sound, pixels and video holds at sector starts
// (JPEG frames and starts, ID3 tags, MP3 frames, icons, atoms, loose bitmap and WMF headers)
// start nothing inside it. A header valid beyond a few bytes still ends it: that is a file the
// sealed one's fragments left room for.
Match Sealed(Start* start, uint64_t length, WholeCheck check = nullptr,
             Reassemble reassemble = nullptr);

Match MatchSnd(const RowInput& r, Start* s);
Match MatchWmv(const RowInput& r, Start* s);
Match MatchMsv(const RowInput& r, Start* s);
Match MatchMsf(const RowInput& r, Start* s);
Match MatchPst(const RowInput& r, Start* s);

inline constexpr SignatureRow kSndRow{.test = MatchSnd,
                                      .gate = {0, "."},
                                      .guarded_by = {&kZipGuard},
                                      .selection = Bits({kSnd}),
                                      .extension = "SND",
                                      .guards = {}};
inline constexpr SignatureRow kWmvRow{.test = MatchWmv,
                                      .gate = {0, "\x30"},
                                      .guarded_by = {&kZipGuard},
                                      .selection = Bits({kWmv}),
                                      .extension = "WMV",
                                      .guards = {&kWmvGuard},
                                      .on_guard = OnGuard::kSkipToRtf};
inline constexpr SignatureRow kMsvRow{.test = MatchMsv,
                                      .gate = {0, "", "MS"},
                                      .guarded_by = {&kZipGuard, &kMsvGuard},
                                      .selection = Bits({kMsv}),
                                      .extension = "MSV",
                                      .guards = {&kMsvGuard},
                                      .stop_check = false};
inline constexpr SignatureRow kMsfRow{.test = MatchMsf,
                                      .gate = {0, "", "MS"},
                                      .guarded_by = {&kZipGuard, &kMsfGuard},
                                      .selection = Bits({kMsf}),
                                      .extension = "MSF",
                                      .guards = {&kMsfGuard},
                                      .stop_check = false};
inline constexpr SignatureRow kPstRow{.test = MatchPst,
                                      .gate = {0, "!"},
                                      .guarded_by = {},
                                      .selection = Bits({kPst}),
                                      .extension = "PST",
                                      .guards = {},
                                      .stop_check = false};

}  // namespace kestrel
