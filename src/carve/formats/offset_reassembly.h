#pragma once
// Putting back together a file found in fragments in order, with foreign allocation units
// between them, for formats whose tables give the file offset of each of their parts (a ZIP
// archive's central directory, a PDF's cross-reference table). The parts are walked in the
// order of their offsets: a part that is not at its offset (moved by the gaps found so far) is
// looked for whole units further on; the distance is a gap's length, and the gap starts at the
// unit boundary, between the previous part's start and this one, where cutting it out leaves the
// previous part whole by the format's own test. The walk ends when the gaps add up to what the
// table's own place says was put in.
//
// Bounded: at most 16 gaps, 1024 gap starts tried per gap; the format bounds its own tests.

#include <cstdint>
#include <vector>

#include "carve/format.h"
#include "carve/piece_source.h"
#include "platform/byte_source.h"

namespace kestrel {

class OffsetReassembly {
 public:
  // The carved bytes [start, start + length) of `source`, holding `total_gap` foreign bytes.
  OffsetReassembly(ByteSource& source, uint64_t start, uint64_t length, const ByteUnits& units,
                   uint64_t total_gap)
      : source_(source), start_(start), length_(length), units_(units), total_gap_(total_gap) {}

  // Where the file's byte `offset` lies in the source with the gaps found so far.
  uint64_t SourceOf(uint64_t offset) const { return start_ + offset + shift_; }
  bool AllGapsFound() const { return shift_ == total_gap_; }

  // How a gap's start is chosen: the first boundary where the previous part is whole, or the
  // only one (for parts whose test cannot see every byte: a second boundary that passes makes
  // the gap's place unknown, and the file is not put together).
  enum class Choice : uint8_t { kFirst, kOnly };

  // The part at file offset `offset` is where `found_at(source offset)` says: in place, or after
  // one more gap. That gap starts after the source offset `after` (the previous part's header)
  // at the boundary where `previous_whole(file)` holds for the file cut so. False when neither.
  template <typename FoundAt, typename PreviousWhole>
  bool Follow(uint64_t offset, uint64_t after, FoundAt found_at, PreviousWhole previous_whole,
              Choice choice = Choice::kFirst) {
    const uint64_t expected = SourceOf(offset);
    if (found_at(expected)) return true;
    if (gaps_.size() == kMaxGaps) return false;
    for (uint64_t gap = units_.bytes; shift_ + gap <= total_gap_; gap += units_.bytes) {
      if (found_at(expected + gap)) return CutGap(after, expected, gap, previous_whole, choice);
    }
    return false;
  }

  // The carved bytes without the gaps found so far.
  std::vector<FilePiece> Pieces() const;

 private:
  static constexpr size_t kMaxGaps = 16;
  static constexpr uint64_t kMaxStartsPerGap = 1024;

  struct Gap {
    uint64_t at = 0, length = 0;  // source offset of the first foreign byte, and its length
  };

  template <typename PreviousWhole>
  bool CutGap(uint64_t after, uint64_t expected, uint64_t length, PreviousWhole previous_whole,
              Choice choice) {
    uint64_t tried = 0;
    bool found = false;
    Gap chosen;
    for (uint64_t at = units_.BoundaryFrom(after); at <= expected; at += units_.bytes) {
      if (++tried > kMaxStartsPerGap) return false;
      gaps_.push_back({at, length});
      const std::vector<FilePiece> trial = Pieces();
      gaps_.pop_back();
      PieceSource file(source_, trial);
      if (!previous_whole(static_cast<ByteSource&>(file))) continue;
      if (found) return false;  // a second start passes: its place is unknown
      found = true;
      chosen = {at, length};
      if (choice == Choice::kFirst) break;
    }
    if (!found) return false;
    gaps_.push_back(chosen);
    shift_ += length;
    return true;
  }

  ByteSource& source_;
  uint64_t start_, length_;
  ByteUnits units_;
  uint64_t total_gap_;
  uint64_t shift_ = 0;
  std::vector<Gap> gaps_;
};

}  // namespace kestrel
