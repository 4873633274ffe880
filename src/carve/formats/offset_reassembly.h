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

#include <algorithm>
#include <cstdint>
#include <utility>
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
  // The foreign bytes not yet placed.
  uint64_t GapLeft() const { return total_gap_ - shift_; }

  // Takes the gaps between `pieces` (source runs in order, after the gaps found so far) as the
  // file's next gaps, when there are some and they fit in what is left.
  bool TakeGapsBetween(const std::vector<FilePiece>& pieces) {
    std::vector<Gap> gaps;
    uint64_t shift = shift_;
    for (size_t i = 1; i < pieces.size(); ++i) {
      const uint64_t end = pieces[i - 1].source_offset + pieces[i - 1].length;
      if (pieces[i].source_offset <= end || gaps_.size() + gaps.size() == kMaxGaps) return false;
      gaps.push_back({end, pieces[i].source_offset - end});
      shift += gaps.back().length;
    }
    if (gaps.empty() || shift > total_gap_ ||
        (!gaps_.empty() && gaps[0].at < gaps_.back().at + gaps_.back().length)) {
      return false;
    }
    gaps_.insert(gaps_.end(), gaps.begin(), gaps.end());
    shift_ = shift;
    return true;
  }

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

  // As Follow, for a part that one cut cannot explain: two gaps inside the previous part, whose
  // test `stops_at(file)` gives the file offset where it stops making sense (its end when it
  // does not). The first gap starts a few units before where it stops; of the first cuts, those
  // that let it go on furthest (with `every_furthest`, all that reach furthest, when more do) are
  // tried with a second gap starting a few units before where it then stops, the rest of the
  // distance long.
  template <typename FoundAt, typename PreviousWhole, typename StopsAt>
  bool FollowTwoCuts(uint64_t offset, uint64_t after, FoundAt found_at,
                     PreviousWhole previous_whole, StopsAt stops_at, bool every_furthest) {
    const uint64_t expected = SourceOf(offset);
    if (gaps_.size() + 2 > kMaxGaps) return false;
    uint64_t gap = 2 * units_.bytes;
    while (shift_ + gap <= total_gap_ && !found_at(expected + gap)) gap += units_.bytes;
    if (shift_ + gap > total_gap_) return false;
    uint64_t trials = 0;
    std::vector<std::pair<uint64_t, Gap>> reached;  // how far each first cut lets it go on
    const uint64_t stop = SourceOf(StopInCut(stops_at));
    for (uint64_t at = NearBefore(stop, after); at <= std::min(stop, expected);
         at += units_.bytes) {
      for (uint64_t first = units_.bytes; first < gap; first += units_.bytes) {
        if (++trials > kMaxTwoCutTrials) break;
        gaps_.push_back({at, first});
        reached.push_back({StopInCut(stops_at), {at, first}});
        gaps_.pop_back();
      }
    }
    std::stable_sort(reached.begin(), reached.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    size_t kept = std::min(reached.size(), kFirstCutsKept);
    while (every_furthest && kept < reached.size() && reached[kept].first == reached[0].first) {
      ++kept;
    }
    reached.resize(kept);
    for (const auto& [reach, first] : reached) {
      const uint64_t stop_after = start_ + reach + shift_ + first.length;
      const uint64_t latest = std::min(stop_after, expected + first.length);
      for (uint64_t at = NearBefore(stop_after, first.at + first.length); at <= latest;
           at += units_.bytes) {
        gaps_.push_back(first);
        gaps_.push_back({at, gap - first.length});
        const std::vector<FilePiece> trial = Pieces();
        PieceSource file(source_, trial);
        if (previous_whole(static_cast<ByteSource&>(file))) {
          shift_ += gap;
          return true;
        }
        gaps_.resize(gaps_.size() - 2);
      }
    }
    return false;
  }

  // The carved bytes without the gaps found so far.
  std::vector<FilePiece> Pieces() const;
  // Those pieces, cut to the file's first `length` bytes.
  std::vector<FilePiece> PiecesUpTo(uint64_t length) const;

 private:
  static constexpr size_t kMaxGaps = 16;
  static constexpr uint64_t kMaxStartsPerGap = 1024;
  static constexpr uint64_t kNearUnits = 8;
  static constexpr uint64_t kMaxTwoCutTrials = 4096;
  static constexpr size_t kFirstCutsKept = 4;

  // The first boundary at most kNearUnits units before `stop`, and not before `after`.
  uint64_t NearBefore(uint64_t stop, uint64_t after) const {
    const uint64_t near = units_.bytes * kNearUnits;
    return units_.BoundaryFrom(std::max(after, stop > near ? stop - near : 0));
  }

  // Where `stops_at` says the previous part stops in the file cut by the gaps as they are.
  template <typename StopsAt>
  uint64_t StopInCut(StopsAt stops_at) const {
    const std::vector<FilePiece> trial = Pieces();
    PieceSource file(source_, trial);
    return stops_at(static_cast<ByteSource&>(file));
  }

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
