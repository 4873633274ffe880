#pragma once
// What every carving format module provides: start values made from a header sector (in the
// dispatch table), a feed that follows the open file sector by sector, and a finish that decides
// whether and how the file is kept. A format never touches files: it returns how many bytes the
// writer appends and what happens next.

#include <cstdint>

#include <vector>

#include "carve/piece_source.h"
#include "carve/sector_input.h"
#include "platform/byte_source.h"
#include "platform/sector_size.h"
#include "run/file_types.h"

namespace kestrel {

// What a feed asks for after one sector.
enum class Step : uint8_t {
  kMore,      // the file goes on with the next sector
  kComplete,  // the file ends with the bytes appended now: it is finished
  kRefuse,    // it is no file after all: it is deleted, never listed
};

struct Fed {
  // Bytes appended, counted from the sector's first byte: at most the sector, or beyond it into
  // the following source bytes (never past the source's end).
  uint64_t write = 0;
  Step step = Step::kMore;
  // The file no longer keeps headers of its own kind from starting a new file (its end is known
  // but it stays open, taking no more bytes, until a header or the scan's end finishes it).
  bool release_guard = false;
};

inline Fed More(uint64_t write) {
  return {write, Step::kMore};
}
inline Fed Complete(uint64_t write) {
  return {write, Step::kComplete};
}
inline Fed Refuse() {
  return {0, Step::kRefuse};
}

inline bool IsSelected(const TypeSet& selected, uint8_t code) {
  return selected.Has(code);
}

// What a format sees of the scan: the sector with its look-behind and look-ahead, the source
// for structures that lie further away, and its own file so far.
struct CarveView {
  const SectorInput& in;
  ByteSource& source;       // read only: nothing writes through a ByteSource
  uint64_t written;         // bytes of the open file appended so far
  const TypeSet& selected;  // the run's selected types
  // Where the open file's bytes so far lie in the source (null: in one piece that ends where
  // the sector starts).
  const std::vector<FilePiece>* pieces = nullptr;

  // Bytes of the source from the sector's first byte on.
  uint64_t SourceRoom() const {
    const uint64_t start = in.sector * kSectorBytes;
    const uint64_t size = source.Size();
    return size > start ? size - start : 0;
  }

  // The open file as it reads from its first byte on when it goes on from this sector: its
  // bytes so far (which may lie in pieces, when it went on after a file in its gap), then the
  // source from the sector on. Read through a PieceSource.
  std::vector<FilePiece> FileFromHere() const {
    const uint64_t here = in.sector * kSectorBytes;
    std::vector<FilePiece> file;
    if (pieces != nullptr && !pieces->empty()) {
      file = *pieces;
    } else if (written > 0 && written <= here) {
      file.push_back({here - written, written});
    }
    if (!file.empty() && file.back().source_offset + file.back().length == here) {
      file.back().length += SourceRoom();
    } else {
      file.push_back({here, SourceRoom()});
    }
    return file;
  }
};

// What a format's own structure says of a carved file.
enum class Whole : uint8_t {
  kYes,        // every part its structure calls for is there and consistent
  kNo,         // the structure breaks: bytes are missing or foreign bytes lie inside
  kUnchecked,  // a variant the check does not follow: the end marker's verdict stands
};

// A format's structural check of the carved file of `length` bytes at byte `start` of `source`.
// It reads the source (read only) through bounded buffers and does bounded work whatever the
// lengths and offsets the file claims.
using WholeCheck = Whole (*)(ByteSource& source, uint64_t start, uint64_t length);

// Where files' allocation units lie in the source, in bytes: one every `bytes` bytes from `anchor`
// (a volume's first cluster; without a volume, the file's first byte and 4 KiB).
struct ByteUnits {
  uint64_t anchor = 0;
  uint64_t bytes = 4096;
  // The first boundary at or after `at`. The units run on before the anchor too: a file's later
  // fragment may lie before its first.
  uint64_t BoundaryFrom(uint64_t at) const {
    if (at <= anchor) return anchor - (anchor - at) / bytes * bytes;
    return anchor + (at - anchor + bytes - 1) / bytes * bytes;
  }
};

// A format's search for the pieces of a carved file that its check found broken, where the file
// lies in fragments with foreign units between them: the carve took the `length` bytes at
// `start`, gaps and all (or pieces of them, when it went on after a file in a gap). True with the
// whole file's pieces in `pieces` (in order, each gap starting and ending on a boundary of
// `units`); the file is kept only when its check then finds them whole. True with no pieces: the
// file is not whole, because it goes on elsewhere but where is not known (two places fit alike),
// or because the carve began inside another file's data. Bounded work whatever the file claims.
using Reassemble = bool (*)(ByteSource& source, uint64_t start, uint64_t length,
                            const ByteUnits& units, std::vector<FilePiece>* pieces);

// How a finished file is kept.
struct Kept {
  static constexpr uint64_t kNoCut = ~uint64_t{0};
  bool keep = false;
  uint64_t cut = kNoCut;            // cut to this length when longer
  const char* extension = nullptr;  // renamed to this extension (null: as opened)
  // Run on a kept file (after the cut): a file it finds broken is not whole.
  WholeCheck check = nullptr;
  // The format's own feed checked the whole file's structure and found it whole.
  bool proven = false;
  // Run when `check` finds the file broken: the file's pieces without the foreign units inside.
  Reassemble reassemble = nullptr;
  // Not kept as carved (its end never came, or foreign bytes broke it), but `reassemble` may find
  // its pieces elsewhere in the source (fragments out of order): kept when it does and `check`
  // finds them whole; else dropped, or listed as not whole when `not_whole` says so.
  bool pieces_elsewhere = false;
  // Its end was found where its structure stopped, which may be where a fragment ends: `reassemble`
  // is tried first, and the pieces it finds are kept when `check` finds them whole (the file as
  // carved otherwise).
  bool may_go_on = false;
  // Not kept because it is not whole (a part is missing or foreign bytes lie inside): written to
  // the partial files only when the run asks for them.
  bool not_whole = false;
};

inline Kept KeepAsIs() {
  return {true};
}
inline Kept Drop() {
  return {false};
}
inline Kept NotWhole() {
  Kept kept;
  kept.not_whole = true;
  return kept;
}
// Kept when `check` finds it whole (or cannot tell).
inline Kept KeepChecked(WholeCheck check) {
  Kept kept = KeepAsIs();
  kept.check = check;
  return kept;
}

}  // namespace kestrel
