#include "carve/formats/counted.h"

#include "carve/formats/asf_check.h"
#include "carve/formats/asf_reassembly.h"
#include "platform/sector_size.h"

namespace kestrel {

Fed FeedCounted(CountedState& state, const CarveView& view) {
  if (state.left == 0) return Refuse();
  const uint32_t count = view.in.count;
  if (count < state.left) {
    state.left -= count;
    return More(count);
  }
  const uint64_t rest = state.left;
  state.left = 0;
  return Complete(rest);
}

Kept FinishCounted(const CountedState& state) {
  Kept kept = KeepChecked(state.check);
  kept.reassemble = state.reassemble;
  if (state.left != 0 && !state.keep_unfinished) {
    // Cut short (by the source's end): its pieces may lie elsewhere, out of order.
    kept.keep = false;
    kept.pieces_elsewhere = state.reassemble != nullptr;
  }
  return kept;
}

namespace {

// Stated lengths that streaming writers leave when they cannot seek back (0, all ones) and
// beyond what the format can hold say nothing about where the file ends.
constexpr uint64_t kMaxSealedLength = 0xFFFFFF00u;

}  // namespace

Match Counted(Start* start, uint64_t length, bool keep_unfinished, WholeCheck check,
              Reassemble reassemble) {
  return Opens(start, CountedState{length, keep_unfinished, check, reassemble});
}

Match Sealed(Start* start, uint64_t length, WholeCheck check, Reassemble reassemble) {
  const Match match = Counted(start, length, false, check, reassemble);
  if (length > kSectorBytes && length < kMaxSealedLength) start->guard = &kSealedGuard;
  return match;
}

Match MatchSnd(const RowInput& r, Start* s) {
  if (!r.h.StartsWith(0, ".snd")) return Match::kNo;
  // The whole file: the header (data offset) and the data.
  return Counted(s, uint64_t{r.h.Be32(4)} + r.h.Be32(8));
}

// A WMV ended early by another header is finished with what it has; its check finds it short of
// the file size its header states.
Match MatchWmv(const RowInput& r, Start* s) {
  if (!r.h.StartsWith(0, "\x30\x26\xB2\x75")) return Match::kNo;
  uint32_t length = r.h.Le32(70);
  if (length == 0) length = r.h.Le32(152);
  return Opens(s, CountedState{length, true, CheckAsf, ReassembleAsf});
}

Match MatchMsv(const RowInput& r, Start* s) {
  if (!r.h.Contains("MS_VOICE")) return Match::kNo;
  return Counted(s, uint64_t{r.h.Be32(156)} + 1024);
}

Match MatchMsf(const RowInput& r, Start* s) {
  if (!r.h.Contains("MSGL") || r.h.Le32(8) != 0xFFFFFFFF || r.h.Le32(12) != 0xFFFFFFFF) {
    return Match::kNo;
  }
  return Counted(s, 32768);
}

Match MatchPst(const RowInput& r, Start* s) {
  return r.h.StartsWith(0, "!BDN") ? Counted(s, r.h.Le32(168)) : Match::kNo;
}

}  // namespace kestrel
