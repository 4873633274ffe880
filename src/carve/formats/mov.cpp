#include "carve/formats/mov.h"

#include <algorithm>
#include <cstring>

#include "carve/structured_bytes.h"

namespace kestrel {
namespace {

bool IsMovieAtomType(const uint8_t* type) {
  static constexpr const char* kTypes[] = {"mdat", "moov", "free", "skip", "wide"};
  for (const char* known : kTypes) {
    if (std::memcmp(type, known, 4) == 0) return true;
  }
  return false;
}

// The length of the top-level atom whose header is at `header`, counting its own header;
// 0 when no movie atom starts there.
uint64_t AtomLength(const uint8_t* header) {
  const uint32_t size = LoadBe32(header);
  if (size == 0 || !IsMovieAtomType(header + 4)) return 0;
  return size == 1 ? LoadBe64(header + 8) : size;
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
  while (i < in.count) {
    if (state.atom_left == 0) {
      // The header may continue into the following bytes (zeros past the source's end).
      const uint64_t length = AtomLength(in.data + i);
      if (length == 0) return EndMovie(state, view, i);
      if (i > room || length > room - i) return Refuse();
      state.atom_left = length;
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
  return state.complete ? KeepAsIs() : Drop();
}

}  // namespace kestrel
