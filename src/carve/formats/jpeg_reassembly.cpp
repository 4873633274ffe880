#include "carve/formats/jpeg_reassembly.h"

#include <algorithm>
#include <cstdlib>
#include <unordered_map>
#include <utility>

#include "carve/formats/jpeg.h"
#include "carve/formats/jpeg_entropy.h"

namespace kestrel {
namespace {

constexpr size_t kMaxPieces = 8;
constexpr size_t kMaxCuts = 4;
constexpr uint64_t kReachUnits = 256;
constexpr uint32_t kMaxContinuations = 1024;
constexpr uint64_t kMaxDecodedPerFile = uint64_t{128} << 20;
// For all files of a scan: 64 MiB, and 32 bytes for every byte of the source before the file
// being put together.
constexpr uint64_t kScanDecodedBase = uint64_t{64} << 20;
constexpr uint64_t kScanDecodedPerByte = 32;
// A decoding goes no further than a picture may be long.
constexpr uint64_t kNoStop = kJpegSizeCap;
constexpr uint64_t kDecodeWindow = 64 * 1024;
// Boundaries tried as cuts for where the picture's rows jump most (by more than kCutJump).
constexpr size_t kJumpCuts = 2;
constexpr double kCutJump = 0.5;

// The bytes decoded by one thread's searches on its current source: the bound for a scan.
struct ScanWork {
  const ByteSource* source = nullptr;
  uint64_t size = 0;
  uint64_t decoded = 0;
};
thread_local ScanWork scan_work;

ScanWork& WorkOn(const ByteSource& source) {
  if (scan_work.source != &source || scan_work.size != source.Size()) {
    scan_work = {&source, source.Size(), 0};
  }
  return scan_work;
}

// Whether the code after an FF may stand inside a JPEG's data or between its segments.
bool JpegMayHold(uint8_t code) {
  return code == 0x00 || code == 0xFF || (code >= 0xC0 && code != 0xD8);
}

// How the rows of a picture meet at a seam: the rows after it differ from those above them by
// `jump` times what the rows before it did (with some leeway); above 1 they do not go on.
// Negative: unknown (the trace does not reach a row on either side).
constexpr double kUnknownJump = -1;

// Mean difference of the DC values of MCUs [from, to) from those a row above them.
double RowDifference(const JpegDcTrace& trace, size_t from, size_t to) {
  const size_t row = static_cast<size_t>(trace.mcus_per_row);
  double sum = 0;
  for (size_t m = from; m < to; ++m) {
    sum += static_cast<double>(std::abs(int64_t{trace.dc[m]} - trace.dc[m - row]));
  }
  return to > from ? sum / static_cast<double>(to - from) : 0;
}

// How the picture's rows go on across the seam at file offset `seam`: the row of MCUs after it
// compared with the rows above it, as the row before it was.
double JumpAt(const JpegDcTrace& trace, uint64_t seam) {
  const size_t row = static_cast<size_t>(trace.mcus_per_row);
  if (row == 0) return kUnknownJump;
  const size_t first = static_cast<size_t>(
      std::lower_bound(trace.offsets.begin(), trace.offsets.end(), seam) - trace.offsets.begin());
  const size_t after = std::min(trace.dc.size(), first + row);
  const size_t compared = std::min<size_t>(row, 8);
  if (first < row + compared || after < first + compared) return kUnknownJump;
  const double within = RowDifference(trace, std::max(row, first - std::min(first, row)), first);
  const double across = RowDifference(trace, first, after);
  return across / (1.5 * within + 4);
}

bool Jumps(double jump) {
  return jump > 1;
}

class JpegSearch {
 public:
  JpegSearch(ByteSource& source, const ByteUnits& units)
      : source_(source),
        units_{units.anchor % std::max<uint64_t>(units.bytes, 1), units.bytes},
        size_(source.Size()),
        scan_(WorkOn(source)) {}

  bool Run(uint64_t start, std::vector<FilePiece>* pieces) {
    if (start >= size_ || units_.bytes == 0) return false;
    start_ = start;
    JpegDcTrace trace;
    const JpegCheck first = Decode({{start, size_ - start}}, kNoStop, &trace);
    if (first.verdict != JpegVerdict::kBroken || trace.offsets.empty()) return false;
    data_start_ = trace.offsets.front();
    std::vector<FilePiece> taken;
    return Extend(taken, {start, 0}, first.broken_at, trace, pieces);
  }

 private:
  // Where the fragment being followed starts: in the source and in the file.
  struct Tail {
    uint64_t source_offset;
    uint64_t file_offset;
  };

  JpegCheck Decode(const std::vector<FilePiece>& layout, uint64_t stop_after, JpegDcTrace* trace) {
    PieceSource file(source_, layout);
    const JpegCheck check = CheckJpegEntropy(file, 0, file.Size(), {stop_after, trace});
    const uint64_t reached =
        check.verdict == JpegVerdict::kBroken
            ? check.broken_at
            : (check.verdict == JpegVerdict::kWhole ? check.end : std::min(stop_after, size_));
    // Every decoding reads a window of the file at least.
    const uint64_t work = reached + kDecodeWindow;
    decoded_ += work;
    scan_.decoded += work;
    return check;
  }

  bool Spent() const {
    return decoded_ > kMaxDecodedPerFile || continuations_ > kMaxContinuations ||
           scan_.decoded > kScanDecodedBase + kScanDecodedPerByte * start_;
  }

  // Follows the fragment at `tail` (after the pieces `taken`), whose decoding broke at file
  // offset `broken_at`, as `trace` recorded it.
  bool Extend(std::vector<FilePiece>& taken, Tail tail, uint64_t broken_at,
              const JpegDcTrace& trace, std::vector<FilePiece>* pieces) {
    if (taken.size() + 1 >= kMaxPieces) return false;
    for (const uint64_t cut : Cuts(tail, broken_at, trace)) {
      taken.push_back({tail.source_offset, cut - tail.file_offset});
      const uint64_t cut_at = tail.source_offset + (cut - tail.file_offset);
      // A continuation that decodes cleanly through the units after the seam is followed at
      // once; those whose decoding breaks there (a fragment of a unit) after all of them.
      std::vector<Fit> short_fits;
      for (const uint64_t next : Candidates(taken, cut_at)) {
        if (Spent()) break;
        const Fit fit = Probe(taken, cut, next);
        if (fit.whole) {
          if (Found(taken, cut, next, fit.reached, pieces)) return true;
          continue;
        }
        if (fit.clean && Follow(taken, cut, next, pieces)) return true;
        if (!fit.clean && fit.reached != 0) short_fits.push_back(fit);
      }
      std::stable_sort(short_fits.begin(), short_fits.end(),
                       [](const Fit& a, const Fit& b) { return a.jump < b.jump; });
      for (const Fit& fit : short_fits) {
        if (Spent()) break;
        if (Follow(taken, cut, fit.next, pieces)) return true;
      }
      taken.pop_back();
      if (Spent()) return false;
    }
    return false;
  }

  // How the picture goes on with the unit at `next` after the pieces `taken` (the file's first
  // `cut` bytes), decoded through the two units after the seam at most.
  struct Fit {
    uint64_t next = 0;
    uint64_t reached = 0;  // file offset the decoding reached; 0: it does not go on
    bool clean = false;    // it decoded through both units
    bool whole = false;    // it ended the picture at `reached`
    double jump = kUnknownJump;
  };

  Fit Probe(const std::vector<FilePiece>& taken, uint64_t cut, uint64_t next) {
    ++continuations_;
    std::vector<FilePiece> layout = taken;
    layout.push_back({next, size_ - next});
    JpegDcTrace trace;
    const JpegCheck probe = Decode(layout, cut + 2 * units_.bytes, &trace);
    Fit fit{next};
    if (probe.verdict == JpegVerdict::kBroken && probe.broken_at < cut + units_.bytes) return fit;
    fit.jump = JumpAt(trace, cut);
    if (Jumps(fit.jump)) return fit;
    fit.whole = probe.verdict == JpegVerdict::kWhole;
    fit.clean = probe.stopped;
    fit.reached =
        fit.whole ? probe.end : (probe.stopped ? cut + 2 * units_.bytes : probe.broken_at);
    return fit;
  }

  // Decodes the picture on with the fragment at `next` and finds the rest of it from there.
  bool Follow(std::vector<FilePiece>& taken, uint64_t cut, uint64_t next,
              std::vector<FilePiece>* pieces) {
    std::vector<FilePiece> layout = taken;
    layout.push_back({next, size_ - next});
    JpegDcTrace trace;
    const JpegCheck check = Decode(layout, kNoStop, &trace);
    if (check.verdict == JpegVerdict::kWhole) {
      return Found(taken, cut, next, check.end, pieces);
    }
    if (check.verdict != JpegVerdict::kBroken || check.broken_at < cut + units_.bytes) {
      return false;
    }
    return Extend(taken, {next, cut}, check.broken_at, trace, pieces);
  }

  // The picture is the pieces `taken` (its first `cut` bytes), then the fragment at `next` up
  // to the file offset `end`.
  static bool Found(std::vector<FilePiece> taken, uint64_t cut, uint64_t next, uint64_t end,
                    std::vector<FilePiece>* pieces) {
    if (end <= cut) return false;  // it ended before the seam: the continuation is no part of it
    taken.push_back({next, end - cut});
    *pieces = std::move(taken);
    return true;
  }

  // The file offsets where the fragment at `tail` may end, the likeliest first (at most
  // kMaxCuts): before its first unit past the picture's data start that holds no JPEG data;
  // else the last boundary before the point where its decoding broke, the boundaries where the
  // picture's rows jump most, then the boundaries before the last.
  std::vector<uint64_t> Cuts(Tail tail, uint64_t broken_at, const JpegDcTrace& trace) {
    std::vector<uint64_t> boundaries;
    const uint64_t from = std::max(tail.file_offset, data_start_) + 1;
    for (uint64_t at = units_.BoundaryFrom(tail.source_offset + (from - tail.file_offset));
         at - tail.source_offset + tail.file_offset <= broken_at; at += units_.bytes) {
      boundaries.push_back(at - tail.source_offset + tail.file_offset);
    }
    for (const uint64_t cut : boundaries) {
      if (!HoldsJpegData(tail.source_offset + (cut - tail.file_offset))) return {cut};
    }
    // The last boundary (foreign bytes most often break the decoding within a unit), those where
    // the rows jump most, then the last ones.
    std::vector<std::pair<double, uint64_t>> jumps;
    for (const uint64_t cut : boundaries) {
      const double jump = JumpAt(trace, cut);
      if (jump > kCutJump) jumps.push_back({jump, cut});
    }
    std::sort(jumps.rbegin(), jumps.rend());
    std::vector<uint64_t> cuts;
    if (!boundaries.empty()) cuts.push_back(boundaries.back());
    for (size_t i = 0; i < jumps.size() && i < kJumpCuts; ++i) {
      if (jumps[i].second != cuts.front()) cuts.push_back(jumps[i].second);
    }
    for (auto it = boundaries.rbegin(); it != boundaries.rend() && cuts.size() < kMaxCuts; ++it) {
      if (std::find(cuts.begin(), cuts.end(), *it) == cuts.end()) cuts.push_back(*it);
    }
    return cuts;
  }

  // The units that may start the next fragment after a cut at `cut_at`: holding JPEG data,
  // outside the pieces `taken`; those after a unit that holds none first, nearest first.
  std::vector<uint64_t> Candidates(const std::vector<FilePiece>& taken, uint64_t cut_at) {
    std::vector<uint64_t> first, then;
    for (uint64_t k = 1; k <= kReachUnits; ++k) {
      const uint64_t step = k * units_.bytes;
      for (const bool after : {true, false}) {
        if (!after && step > cut_at) continue;
        const uint64_t at = after ? cut_at + step : cut_at - step;
        if (at + units_.bytes > size_ || Overlaps(taken, at) || !HoldsJpegData(at)) continue;
        const bool opens = at < units_.bytes || !HoldsJpegData(at - units_.bytes);
        (opens ? first : then).push_back(at);
      }
    }
    first.insert(first.end(), then.begin(), then.end());
    return first;
  }

  bool Overlaps(const std::vector<FilePiece>& taken, uint64_t at) const {
    return std::any_of(taken.begin(), taken.end(), [&](const FilePiece& piece) {
      return at < piece.source_offset + piece.length && piece.source_offset < at + units_.bytes;
    });
  }

  // Whether the unit at `at` may hold JPEG data; each unit is read once.
  bool HoldsJpegData(uint64_t at) {
    if (const auto known = holds_.find(at); known != holds_.end()) return known->second;
    unit_.resize(static_cast<size_t>(units_.bytes));
    const bool holds = source_.ReadExact(at, unit_.data(), unit_.size()) &&
                       LooksLikeJpegData(unit_.data(), unit_.size());
    holds_.emplace(at, holds);
    return holds;
  }

  ByteSource& source_;
  // The units on either side of the anchor: fragments may lie before the file's start.
  ByteUnits units_;
  uint64_t size_;
  ScanWork& scan_;
  uint64_t start_ = 0;       // the file's first byte in the source
  uint64_t data_start_ = 0;  // file offset of the first scan's data
  uint64_t decoded_ = 0;
  uint32_t continuations_ = 0;
  std::unordered_map<uint64_t, bool> holds_;
  std::vector<uint8_t> unit_;
};

}  // namespace

bool LooksLikeJpegData(const uint8_t* data, size_t length) {
  if (length < 2) return false;
  size_t high = 0;
  for (size_t i = 0; i < length; ++i) {
    high += data[i] >> 7;
    if (data[i] != 0xFF || i + 1 == length) continue;
    if (!JpegMayHold(data[i + 1])) return false;
    // What follows the end of a picture is not its own: the bytes before it tell.
    if (data[i + 1] == 0xD9) return i >= 16 && high * 5 >= i;
  }
  return high * 5 >= length;
}

bool ReassembleJpeg(ByteSource& source, uint64_t start, uint64_t /*length*/, const ByteUnits& units,
                    std::vector<FilePiece>* pieces) {
  return JpegSearch(source, units).Run(start, pieces);
}

}  // namespace kestrel
