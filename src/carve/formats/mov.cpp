#include "carve/formats/mov.h"

#include <algorithm>
#include <cstring>

#include "carve/formats/mov_check.h"
#include "carve/formats/mov_reassembly.h"
#include "platform/byte_order.h"

namespace kestrel {
namespace {

// The atoms that stand at the top level of QuickTime and ISO base media files ("ftyp" aside,
// which only the first atom may be): movie, media data, free space, fragments and their
// indexes, segment types, event messages, preview, metadata and user extensions.
constexpr const char* kTopLevelTypes[] = {"moov", "mdat", "free", "skip", "wide", "uuid",
                                          "meta", "pdin", "moof", "mfra", "sidx", "ssix",
                                          "styp", "emsg", "prft", "meco", "pnot", "PICT"};

enum class AtomKind : uint8_t {
  kAtom,  // a top-level atom of a known length
  kEnd,   // no movie atom starts here: the movie ends before it
  kBad,   // an atom shorter than its own header: no movie
};

struct AtomHeader {
  AtomKind kind = AtomKind::kEnd;
  uint64_t length = 0;  // its own header included
  uint8_t seen = 0;
};

bool IsTopLevelType(const uint8_t* type) {
  for (const char* known : kTopLevelTypes) {
    if (std::memcmp(type, known, 4) == 0) return true;
  }
  return false;
}

uint8_t SeenBit(const uint8_t* type) {
  if (std::memcmp(type, "moov", 4) == 0) return kSeenMoov;
  if (std::memcmp(type, "mdat", 4) == 0) return kSeenMdat;
  if (std::memcmp(type, "meta", 4) == 0) return kSeenMeta;
  return 0;
}

// The top-level atom whose header is at `header` (16 readable bytes); `first` for the movie's
// first atom.
AtomHeader ReadAtom(const MovState& state, const uint8_t* header, bool first) {
  const uint8_t* type = header + 4;
  const bool file_type = first && state.file_type && std::memcmp(type, "ftyp", 4) == 0;
  if (!file_type && !IsTopLevelType(type)) return {};
  const uint32_t size = LoadBe32(header);
  const bool wide = size == 1;
  const uint64_t length = wide ? LoadBe64(header + 8) : size;
  // A length of 0 runs to the end of the atom's file, which lies nowhere a raw scan can see.
  if (length == 0) return {};
  if (length < (wide ? 16u : 8u)) return {AtomKind::kBad};
  return {AtomKind::kAtom, length, SeenBit(type)};
}

// The movie ends at `at` of this sector; one whose first atom was no movie atom is nothing.
Fed EndMovie(MovState& state, const CarveView& view, uint64_t at) {
  if (view.written + at == 0) return Refuse();
  state.complete = true;
  return Complete(at);
}

}  // namespace

Fed FeedMov(MovState& state, const CarveView& view) {
  const SectorInput& in = view.in;
  const uint64_t room = view.SourceRoom();
  size_t i = 0;
  // Every atom is at least 8 bytes long: at most count / 8 headers per sector.
  while (i < in.count) {
    if (state.atom_left == 0) {
      // The header may continue into the following bytes (zeros past the source's end).
      const AtomHeader atom = ReadAtom(state, in.data + i, view.written + i == 0);
      if (atom.kind == AtomKind::kEnd) return EndMovie(state, view, i);
      if (atom.kind == AtomKind::kBad) return Refuse();
      if (i > room || atom.length > room - i) {
        if (atom.seen != kSeenMdat || view.written + i == 0) return Refuse();
        state.cut_short = true;
        state.seen |= atom.seen;
        return EndMovie(state, view, i);
      }
      state.atom_left = atom.length;
      state.seen |= atom.seen;
    }
    const uint64_t step = std::min<uint64_t>(state.atom_left, in.count - i);
    i += static_cast<size_t>(step);
    state.atom_left -= step;
  }
  // The last atom ends with the source: nothing can follow, the movie is whole.
  if (state.atom_left == 0 && in.valid_after == 0) return EndMovie(state, view, in.count);
  return More(in.count);
}

Kept FinishMov(const MovState& state) {
  const uint8_t needed = kSeenMdat | (state.image ? kSeenMeta : kSeenMoov);
  const bool has_all = state.complete && !state.cut_short && (state.seen & needed) == needed;
  Kept kept = has_all ? KeepChecked(CheckMov) : Drop();
  kept.extension = state.extension;
  if (state.image) return kept;
  // A movie whose walk broke before its movie box or inside it (after a gap), or whose sample
  // tables find it broken, may lie in fragments.
  kept.check = CheckMov;
  kept.reassemble = ReassembleMov;
  kept.pieces_elsewhere = !has_all && (state.seen & (kSeenMdat | kSeenMoov)) != 0;
  return kept;
}

Match MatchMov(const RowInput& r, Start* s) {
  const SectorHeader& h = r.h;
  const bool atom = h.StartsWith(4, "mdat") || h.StartsWith(4, "moov") || h.StartsWith(4, "free") ||
                    h.StartsWith(4, "skip") || h.StartsWith(4, "wide");
  return atom ? Opens(s, MovState{}) : Match::kNo;
}

}  // namespace kestrel
