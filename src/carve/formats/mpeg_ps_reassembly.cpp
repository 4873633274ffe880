#include "carve/formats/mpeg_ps_reassembly.h"

#include <algorithm>

#include "carve/formats/mpeg_ps_check.h"
#include "carve/formats/source_window.h"
#include "carve/unique_best.h"
#include "carve/unit_candidates.h"

namespace kestrel {
namespace {

constexpr size_t kMaxPieces = 16;
constexpr uint64_t kReachUnits = 256;
constexpr uint64_t kHorizonUnits = 4;
constexpr uint64_t kMaxCutsPerStop = 16;
// Units before a stop at a unit that breaks the rules where the seam may lie.
constexpr uint64_t kBackUnits = 2;
constexpr uint64_t kMaxFollows = 512;
// A candidate is followed through a smaller window (a system header longer than it ends the
// candidate's chain).
constexpr size_t kProbeWindowBytes = 8 * 1024;
// Past the stop, a cut may still fall inside the next unit's header.
constexpr uint64_t kUnitHeadBytes = 16;
constexpr uint64_t kNoEnd = ~uint64_t{0};

// How well a candidate goes on: how little the clock moves to its first pack past the cut (the
// clock only rises along a stream, so of its packs, its own next one has the nearest clock), then
// how far the chain goes past the cut.
struct Rank {
  uint64_t clock_step = MpegChain::kNoClockStep;
  uint64_t reached = 0;
  bool Before(const Rank& other) const {
    if (clock_step != other.clock_step) return clock_step < other.clock_step;
    return reached > other.reached;
  }
};

struct RankBefore {
  bool operator()(const Rank& a, const Rank& b) const { return a.Before(b); }
};

class MpegFragmentWalk {
 public:
  MpegFragmentWalk(ByteSource& source, uint64_t start, const ByteUnits& units)
      : source_(source), units_(units) {
    pieces_.push_back({start, source.Size() - start});
  }

  bool Run(std::vector<FilePiece>* pieces) {
    MpegChain chain = MpegChain::Steady();
    MpegChain resume;
    MpegChain::Reach reach = Follow(pieces_, chain, 0, kNoEnd, &resume);
    packs_ = chain.packs();
    while (reach.whole == Whole::kNo && !reach.end_code && pieces_.size() < kMaxPieces &&
           GoOn(&reach, &resume)) {
    }
    if (exhausted_ ||
        (!reach.end_code && reach.whole == Whole::kNo && pieces_.size() == kMaxPieces)) {
      return false;  // where it goes on was not looked for to the end
    }
    if (ambiguous_) {
      pieces->clear();  // it goes on, but where is not known
      return true;
    }
    if (pieces_.size() < 2 || packs_ < kMinMpegPacks) return false;
    *pieces = PiecesUpTo(pieces_, reach.at);
    return pieces->size() >= 2;
  }

 private:
  MpegChain::Reach Follow(const std::vector<FilePiece>& pieces, MpegChain& chain, uint64_t at,
                          uint64_t end, MpegChain* before_last,
                          size_t window_bytes = kMpegWindowBytes) {
    PieceSource file(source_, pieces);
    SourceWindow window(file, 0, file.Size(), window_bytes);
    return chain.Follow(window, at, end, kMaxMpegCheckUnits, before_last);
  }

  uint64_t OpenFileOffset() const { return LastPieceFileOffset(pieces_); }

  // Where the chain resumes across a cut at file offset `cut`: the last unit that starts before
  // it, the chain as it was before that unit, and where the unit after it starts.
  struct Resume {
    uint64_t at = 0;
    MpegChain chain;
    uint64_t next = 0;
  };

  Resume ResumeAt(uint64_t cut, const MpegChain::Reach& reach, const MpegChain& resume) {
    if (cut > reach.last) return {reach.last, resume, reach.at};
    // A cut before the last unit that fit: the stream is followed again up to it.
    Resume before;
    MpegChain chain = MpegChain::Steady();
    const MpegChain::Reach up_to = Follow(pieces_, chain, 0, cut, &before.chain);
    before.at = up_to.last;
    before.next = up_to.at;
    return before;
  }

  // Whether the stream goes on from another unit after the chain stopped at `reach` (`resume`:
  // the chain before its last unit that fit). The open piece is cut at a boundary after that unit's
  // start, or a little before the stop when a unit broke the rules there (a unit from elsewhere
  // may fit for a while), up to just past the stop, and the candidate
  // whose first pack's clock comes next, then that takes the chain furthest past the cut, goes on
  // from there; `reach` and `resume` then say where it stops next.
  bool GoOn(MpegChain::Reach* reach, MpegChain* resume) {
    const FilePiece open = pieces_.back();
    const uint64_t open_file = OpenFileOffset();
    if (reach->at <= open_file) return false;
    const uint64_t stop = open.source_offset + (reach->at - open_file);
    const uint64_t last = open.source_offset + (std::max(reach->last, open_file) - open_file);
    const uint64_t back = kBackUnits * units_.bytes;
    const uint64_t first = reach->misfit && stop > back ? std::min(last, stop - back) : last;
    uint64_t cut = units_.BoundaryFrom(std::max(open.source_offset, first) + 1);
    UniqueBest<std::pair<std::vector<FilePiece>, Resume>, Rank, RankBefore> best;
    for (uint64_t n = 0; n < kMaxCutsPerStop && cut < stop + kUnitHeadBytes;
         ++n, cut += units_.bytes) {
      const uint64_t cut_file = open_file + (cut - open.source_offset);
      const Resume from = ResumeAt(cut_file, *reach, *resume);
      if (from.at < open_file) continue;
      UnitCandidates candidates(units_, cut, kReachUnits, source_.Size(), pieces_);
      for (uint64_t next = 0; candidates.Next(&next);) {
        if (cut_file <= from.next && !UnitStartAt(next + (from.next - cut_file))) continue;
        if (++follows_ > kMaxFollows) {
          exhausted_ = true;
          return false;
        }
        std::vector<FilePiece> trial = GoingOnAt(pieces_, cut, next, source_.Size() - next);
        MpegChain chain = from.chain;
        chain.MarkClockStepAt(cut_file);
        const uint64_t horizon = cut_file + kHorizonUnits * units_.bytes;
        const MpegChain::Reach probe =
            Follow(trial, chain, from.at, horizon, nullptr, kProbeWindowBytes);
        // A unit that starts past the cut must fit, and no unit may break the rules up to where
        // the chain is followed (or stops at foreign bytes or an end code).
        // An end code alone (the last bytes of a copy of the stream) is no continuation.
        if (probe.last < cut_file || probe.misfit || chain.units_past_mark() == 0) continue;
        const Rank rank{chain.clock_step(), probe.end_code ? kNoEnd : std::min(probe.at, horizon)};
        best.Offer({std::move(trial), from}, rank);
      }
    }
    ambiguous_ = best.tied();
    if (!best.Unique()) return false;
    const Resume from = best.best().second;
    pieces_ = std::move(best.best().first);
    *resume = from.chain;
    MpegChain chain = from.chain;
    *reach = Follow(pieces_, chain, from.at, kNoEnd, resume);
    packs_ = chain.packs();
    return true;
  }

  // Whether a unit's start code (00 00 01) lies at byte `at` of the source.
  bool UnitStartAt(uint64_t at) {
    uint8_t code[3];
    return source_.ReadExact(at, code, sizeof code) && code[0] == 0 && code[1] == 0 && code[2] == 1;
  }

  ByteSource& source_;
  ByteUnits units_;
  std::vector<FilePiece> pieces_;  // the last one runs on to the source's end
  uint64_t follows_ = 0;
  uint64_t packs_ = 0;      // in the stream as followed so far
  bool ambiguous_ = false;  // two candidates went on alike
  bool exhausted_ = false;  // the candidates to follow ran out
};

}  // namespace

bool ReassembleMpeg(ByteSource& source, uint64_t start, uint64_t /*length*/, const ByteUnits& units,
                    std::vector<FilePiece>* pieces) {
  if (units.bytes == 0 || start >= source.Size()) return false;
  return MpegFragmentWalk(source, start, units).Run(pieces);
}

}  // namespace kestrel
