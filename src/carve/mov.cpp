#include "carve/mov.h"

#include <algorithm>
#include <cstring>

#include "carve/structured_bytes.h"
#include "carve/structured_output.h"
#include "platform/sector_size.h"

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

void EndMovie(CarveSession& s, const SectorInput& in, size_t at, uint8_t type_code) {
  s.Write(in.data, at);
  s.st.mov_open = false;
  s.st.mov = MovState{};
  if (s.out().Length() == 0) {
    // Not even the first atom was a movie atom: nothing to keep.
    DiscardOpenFile(s);
    return;
  }
  s.st.file_complete = true;
  s.FinishCarvedFile(type_code);
}

}  // namespace

void StartMov(CarveSession& s) {
  s.st.mov = MovState{};
}

void CarveMov(CarveSession& s, const SectorInput& in, uint8_t type_code) {
  MovState& m = s.st.mov;
  const uint64_t sector_start = in.sector * kSectorBytes;
  const uint64_t source_size = s.source().Size();
  size_t i = 0;
  while (i < in.count) {
    if (m.atom_left == 0) {
      // The header may continue into the following bytes (zeros past the source's end).
      const uint64_t length = AtomLength(in.data + i);
      if (length == 0) {
        EndMovie(s, in, i, type_code);
        return;
      }
      const uint64_t position = sector_start + i;
      if (position > source_size || length > source_size - position) {
        s.st.mov_open = false;
        m = MovState{};
        DiscardOpenFile(s);
        return;
      }
      m.atom_left = length;
    }
    const uint64_t step = std::min<uint64_t>(m.atom_left, in.count - i);
    i += static_cast<size_t>(step);
    m.atom_left -= step;
  }
  if (m.atom_left == 0 && in.valid_after == 0) {
    // The last atom ends with the source: nothing can follow, the movie is whole.
    EndMovie(s, in, in.count, type_code);
    return;
  }
  s.Write(in.data, in.count);
}

}  // namespace kestrel
