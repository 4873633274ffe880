#pragma once
// Whether a carved RIFF or IFF file (AVI, WAV, AIFF) is whole, told by its chunks: the outer
// chunk's stated length is the file's length, and inside it (and inside every LIST) the chunks
// follow each other by their sizes, each with an id of four printable ASCII characters, each
// padded to an even length (a writer that leaves the pad byte out is followed too), the last
// ending exactly where its list ends. Besides:
// - AVI: the header list (hdrl) and the movie list (movi) are there. Every idx1 entry points at
//   a chunk of its id and size (offsets counted from the movi list or from the file's start, as
//   the first entry tells). An OpenDML super index (indx) points at standard indexes inside the
//   file, and every standard index entry (indx or ix##) at a chunk of its stream's id and size.
//   RIFF-AVIX extensions after the first RIFF are walked alike; an OpenDML file that ends after
//   its first RIFF while its index points further is not whole.
// - WAV: a 'fmt ' chunk that describes audio, and a 'data' chunk.
// - AIFF: a COMM chunk whose sample frames the sound data (SSND) holds.
// A foreign block in the middle breaks the chain where it covers a chunk header, and a missing
// one breaks the sizes. The sound and pictures inside the chunks are not checked: a WAV whose
// data chunk holds random bytes, or an AVI frame replaced by random bytes of the same size, is
// whole to this check.
//
// At most kMaxRiffCheckChunks chunks and kMaxRiffIndexEntries index entries are followed, and
// the index lookups read at most the file's length and 64 MiB; past a cap, unchecked.

#include <cstdint>

#include "carve/format.h"
#include "platform/byte_source.h"

namespace kestrel {

inline constexpr uint32_t kMaxRiffCheckChunks = 4'000'000;
inline constexpr uint32_t kMaxRiffIndexEntries = 1'000'000;

// A chunk id: four printable ASCII characters.
inline bool IsRiffChunkId(const uint8_t* id) {
  for (int k = 0; k < 4; ++k) {
    if (id[k] < 0x20 || id[k] > 0x7E) return false;
  }
  return true;
}

Whole CheckAvi(ByteSource& source, uint64_t start, uint64_t length);
Whole CheckWav(ByteSource& source, uint64_t start, uint64_t length);
Whole CheckAiff(ByteSource& source, uint64_t start, uint64_t length);

}  // namespace kestrel
