#pragma once
// The movie box (moov) of a movie found in fragments, looked for in the source: at a given place,
// or at its place in the units within reach. A movie box counts when its tracks read and their
// chunks lie where the movie's layout puts its media without overlapping. One that does not read
// in one piece may be cut at one of its unit boundaries (one only, within 16 units) and go on from
// a unit within 256 of the cut (unit_candidates.h): exactly one continuation must fit, or copies
// of one. A movie box over 16 MiB is not looked for; at most 4,096 continuations are tried and
// 64 MiB of movie boxes read per search.

#include <cstdint>
#include <optional>
#include <vector>

#include "carve/format.h"
#include "carve/piece_source.h"
#include "platform/byte_source.h"

namespace kestrel {

// Bytes [first, end) of a movie file.
struct MovSpan {
  uint64_t first = 0;
  uint64_t end = 0;
};

// A movie box found in the source: its bytes, header included, and where they lie.
struct MovieBox {
  std::vector<FilePiece> pieces;
  std::vector<uint8_t> bytes;
};

class MovieBoxSearch {
 public:
  // For a movie whose media data's body is `media` (file offsets); without it the movie box comes
  // first, at file offset `box_at`, and the chunks lie after it.
  MovieBoxSearch(ByteSource& source, const ByteUnits& units, std::optional<MovSpan> media,
                 uint64_t box_at)
      : source_(source), units_(units), media_(media), box_at_(box_at) {}

  // The movie box whose header is at source offset `at`; `file_start` is the source offset of the
  // movie's first byte (the piece before a cut inside the box runs from there).
  bool Assemble(uint64_t at, uint64_t file_start, MovieBox* box);

  // The movie box whose header lies at source offset `in_place` when the movie is in one piece
  // from source offset `start`: at that place in every unit within 256 of the movie's start and of
  // that place (its header "moov" with a movie header "mvhd" of 108 or 120 bytes first inside).
  // One that fits, or copies of one; two that differ leave it unknown.
  bool FindAtPlace(uint64_t start, uint64_t in_place, MovieBox* box);

 private:
  std::vector<uint64_t> HeadersAtPhase(uint64_t phase, uint64_t low, uint64_t high);
  bool ReadBytes(uint64_t at, uint8_t* bytes, uint64_t count);
  bool BoxHeaderAt(uint64_t at, uint64_t room);
  bool Fits(const std::vector<uint8_t>& bytes) const;

  ByteSource& source_;
  ByteUnits units_;
  std::optional<MovSpan> media_;
  uint64_t box_at_;
  uint64_t trials_ = 0;
  uint64_t bytes_read_ = 0;
};

}  // namespace kestrel
