#include "carve/formats/jpeg_reassembly.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <unordered_map>
#include <utility>

#include "carve/formats/jpeg.h"
#include "carve/formats/jpeg_entropy.h"
#include "carve/unit_candidates.h"

namespace kestrel {
namespace {

constexpr size_t kMaxPieces = 8;
constexpr size_t kMaxCuts = 4;
constexpr uint64_t kReachUnits = 512;
constexpr uint32_t kMaxContinuations = 1024;
constexpr uint64_t kMaxDecodedPerFile = uint64_t{32} << 20;
// For all files of a scan: 64 MiB, and 8 bytes for every byte of the source before the file
// being put together.
constexpr uint64_t kScanDecodedBase = uint64_t{64} << 20;
constexpr uint64_t kScanDecodedPerByte = 8;
// A decoding goes no further than a picture may be long.
constexpr uint64_t kNoStop = kJpegSizeCap;
constexpr uint64_t kDecodeWindow = 16 * 1024;
// How far before a cut the decoding's state is kept (JpegDecodeOptions).
constexpr uint64_t kKeepLead = 2048;
// Boundaries tried as cuts for where the picture's rows jump most (by more than kCutJump).
constexpr size_t kJumpCuts = 2;
constexpr double kCutJump = 0.5;
// Above this the rows jump more than they do anywhere inside a picture: a seam.
constexpr double kSeamJump = 1.5;
// Continuations probed before a clear choice may end the search; a choice is clear when the
// smoothest seam jumps at most kClearJump and every other one kTieFactor times as much and
// kTieMargin more.
constexpr uint32_t kMinProbed = 24;
constexpr double kClearJump = 0.8;
constexpr double kTieFactor = 2;
constexpr double kTieMargin = 0.1;
constexpr double kUnknownScore = 1e9;
// Continuations followed after one cut at most, when the seams do not single one out: where
// their rows cannot be compared, and where they can (the picture's own later units go on
// about as smoothly as the true one, and only following them tells).
constexpr size_t kMaxContenders = 3;
constexpr size_t kMaxSmoothContenders = 8;
// Marker segments read before a cut in the headers at most.
constexpr uint32_t kMaxHeaderSegments = 1024;

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

// Mean difference of the samples along the top edges of the trace's MCUs [from, to) (entries,
// not MCU numbers) from those along the bottom edges of the MCUs a row above them.
double EdgeDifference(const JpegRowTrace& trace, size_t from, size_t to) {
  const size_t row = static_cast<size_t>(trace.mcus_per_row), edge = trace.edge;
  uint64_t sum = 0;
  for (size_t m = from; m < to; ++m) {
    const int16_t* top = &trace.top[m * edge];
    const int16_t* above = &trace.bottom[(m - row) * edge];
    for (size_t x = 0; x < edge; ++x) {
      sum += static_cast<uint64_t>(std::abs(int32_t{top[x]} - above[x]));
    }
  }
  return to > from ? static_cast<double>(sum) / static_cast<double>((to - from) * edge) : 0;
}

// How the picture's rows go on across the seam at file offset `seam`. The MCUs after it meet
// the MCUs above them in two stretches: the rest of the seam's row, and the next row up to the
// seam's column. Data out of place breaks both; an edge in the picture that runs along a row of
// MCUs breaks only one. Each stretch is compared with how the row before the seam met the row
// above it, and the smoother one counts.
double JumpAt(const JpegRowTrace& trace, uint64_t seam) {
  const size_t row = static_cast<size_t>(trace.mcus_per_row);
  if (row == 0 || trace.edge == 0) return kUnknownJump;
  const size_t first = static_cast<size_t>(
      std::lower_bound(trace.offsets.begin(), trace.offsets.end(), seam) - trace.offsets.begin());
  const size_t traced = trace.offsets.size();
  const size_t compared = std::min<size_t>(row, 4);
  if (first < row + compared) return kUnknownJump;
  const double within = EdgeDifference(trace, std::max(row, first - std::min(first, row)), first);
  const size_t column = static_cast<size_t>((trace.first_mcu + first) % row);
  const size_t next_row = std::min(traced, first + (row - column));
  const size_t after = std::min(traced, first + row);
  double jump = kUnknownJump;
  for (const auto& [from, to] : {std::pair{first, next_row}, std::pair{next_row, after}}) {
    if (to < from + compared) continue;
    const double stretch = EdgeDifference(trace, from, to) / (1.5 * within + 4);
    if (jump < 0 || stretch < jump) jump = stretch;
  }
  return jump;
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
    JpegRowTrace trace;
    const JpegCheck first = Decode({{start, size_ - start}}, kNoStop, &trace);
    if (first.verdict != JpegVerdict::kBroken) return false;
    if (trace.offsets.empty()) return AcrossHeaders(first.broken_at, pieces);
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

  // The carve broke in the picture's headers, before its entropy-coded data began: cut inside a
  // marker segment (an Exif block with its thumbnail, say). A unit goes on with it only when the
  // next marker stands where the segment's length puts it and the headers go on from there to
  // the data; the picture is followed on from each such unit (at most kMaxContenders, at each of
  // the last kMaxCuts boundaries before the break) and put together when exactly one makes it
  // whole.
  bool AcrossHeaders(uint64_t broken_at, std::vector<FilePiece>* pieces) {
    uint32_t found = 0;
    std::vector<FilePiece> result;
    uint64_t boundary = units_.BoundaryFrom(start_ + broken_at + 1);
    for (size_t k = 0; k < kMaxCuts && boundary > units_.bytes; ++k) {
      boundary -= units_.bytes;
      if (boundary <= start_) break;
      const uint64_t cut = boundary - start_;
      const uint64_t segment_end = SegmentEndAcross(cut);
      if (segment_end == 0) continue;
      std::vector<FilePiece> taken = {{start_, cut}};
      std::vector<uint64_t> goes_on;
      UnitCandidates candidates(units_, boundary, kReachUnits, size_, taken);
      for (uint64_t next = 0; candidates.Next(&next);) {
        if (Spent()) return false;
        if (!MarkerAt(next + (segment_end - cut)) || !HeadersGoOn(taken, cut, next)) continue;
        if (goes_on.size() == kMaxContenders) return false;
        goes_on.push_back(next);
      }
      for (const uint64_t next : goes_on) {
        std::vector<FilePiece> found_pieces;
        if (!FollowFromHeaders(taken, cut, next, &found_pieces)) continue;
        if (++found > 1) return false;
        result = std::move(found_pieces);
      }
      if (found == 1) break;
    }
    if (found != 1) return false;
    *pieces = std::move(result);
    return true;
  }

  // Where the marker segment that runs over file offset `cut` ends (the next marker's offset),
  // read from the headers before it; 0 when the data begins first or the headers break.
  uint64_t SegmentEndAcross(uint64_t cut) {
    uint64_t at = 2;  // after the SOI
    for (uint32_t segments = 0; at + 4 <= cut && segments < kMaxHeaderSegments; ++segments) {
      uint8_t head[4];
      if (!source_.ReadExact(start_ + at, head, sizeof head) || head[0] != 0xFF) return 0;
      if (head[1] == 0xFF) {  // a fill byte
        ++at;
        continue;
      }
      if (head[1] == 0xDA || head[1] < 0xC0 || head[1] == 0xD8 || head[1] == 0xD9) return 0;
      const uint64_t end = at + 2 + (uint64_t{head[2]} << 8 | head[3]);
      if (end > cut) return end;
      at = end;
    }
    return 0;
  }

  // Whether a marker a picture's headers may hold stands at source offset `at`.
  bool MarkerAt(uint64_t at) {
    uint8_t code[2];
    if (at + sizeof code > size_ || !source_.ReadExact(at, code, sizeof code)) return false;
    return code[0] == 0xFF && code[1] >= 0xC0 && code[1] != 0xD8 && code[1] != 0xD9;
  }

  // Whether the headers go on in the unit at `next` after the file's first `cut` bytes `taken`,
  // into the entropy-coded data (or to the picture's end); the decoding kept for
  // FollowFromHeaders.
  bool HeadersGoOn(const std::vector<FilePiece>& taken, uint64_t cut, uint64_t next) {
    at_cut_ = {};
    std::vector<FilePiece> layout = taken;
    layout.push_back({next, size_ - next});
    header_trace_ = {};
    header_check_ = Decode(layout, kNoStop, &header_trace_);
    last_headers_go_on_ = header_check_.verdict == JpegVerdict::kWhole ||
                          (header_check_.verdict == JpegVerdict::kBroken &&
                           !header_trace_.offsets.empty() && header_trace_.offsets.front() >= cut);
    return last_headers_go_on_;
  }

  // Follows the picture on from the unit at `next` after the headers' cut.
  bool FollowFromHeaders(const std::vector<FilePiece>& taken, uint64_t cut, uint64_t next,
                         std::vector<FilePiece>* found_pieces) {
    if (!HeadersGoOn(taken, cut, next)) return false;
    std::vector<FilePiece> layout = taken;
    if (header_check_.verdict == JpegVerdict::kWhole) {
      layout.push_back({next, header_check_.end - cut});
      *found_pieces = std::move(layout);
      return true;
    }
    data_start_ = header_trace_.offsets.front();
    const JpegRowTrace trace = header_trace_;
    return Extend(layout, {next, cut}, header_check_.broken_at, trace, found_pieces);
  }

  // Decodes the file laid out as `layout` from its start, or on from the state kept at the
  // current cut when there is one.
  JpegCheck Decode(const std::vector<FilePiece>& layout, uint64_t stop_after, JpegRowTrace* trace) {
    PieceSource file(source_, layout);
    const bool resumed = at_cut_.held();
    const JpegCheck check = resumed
                                ? ResumeJpegEntropy(at_cut_, file, file.Size(), {stop_after, trace})
                                : CheckJpegEntropy(file, 0, file.Size(), {stop_after, trace});
    return Counted(check, stop_after, resumed ? kept_from_ : 0);
  }

  // Decodes the file's first `cut` bytes, the pieces `taken`, keeping the state just before the
  // cut for the continuations tried after it.
  void KeepAtCut(const std::vector<FilePiece>& taken, uint64_t cut) {
    at_cut_ = {};
    PieceSource file(source_, taken);
    JpegDecodeOptions options;
    options.stop_after = cut;
    options.keep_at = cut;
    options.keep = &at_cut_;
    JpegRowTrace rows;  // kept with the state: the rows a seam after it is compared with
    options.trace = &rows;
    Counted(CheckJpegEntropy(file, 0, file.Size(), options), cut, 0);
    kept_from_ = cut > kKeepLead ? cut - kKeepLead : 0;
  }

  // Counts a decoding from file offset `from` in the work done.
  JpegCheck Counted(const JpegCheck& check, uint64_t stop_after, uint64_t from) {
    const uint64_t reached =
        check.verdict == JpegVerdict::kBroken
            ? check.broken_at
            : (check.verdict == JpegVerdict::kWhole ? check.end : std::min(stop_after, size_));
    // Every decoding reads a window of the file at least.
    const uint64_t work = (reached > from ? reached - from : 0) + kDecodeWindow;
    decoded_ += work;
    scan_.decoded += work;
    return check;
  }

  bool Spent() const {
    return decoded_ > kMaxDecodedPerFile || continuations_ > kMaxContinuations ||
           scan_.decoded > kScanDecodedBase + kScanDecodedPerByte * start_;
  }

  // How the picture goes on with the unit at `next` after the pieces `taken` (the file's first
  // `cut` bytes), decoded through the two units after the seam at most.
  struct Fit {
    uint64_t next = 0;
    uint64_t reached = 0;  // file offset the decoding reached; 0: it does not go on
    bool whole = false;    // it ended the picture at `reached`
    double jump = kUnknownJump;
  };

  // Follows the fragment at `tail` (after the pieces `taken`), whose decoding broke at file
  // offset `broken_at`, as `trace` recorded it.
  bool Extend(std::vector<FilePiece>& taken, Tail tail, uint64_t broken_at,
              const JpegRowTrace& trace, std::vector<FilePiece>* pieces) {
    if (taken.size() + 1 >= kMaxPieces) return false;
    for (const uint64_t cut : Cuts(tail, broken_at, trace)) {
      taken.push_back({tail.source_offset, cut - tail.file_offset});
      const uint64_t cut_at = tail.source_offset + (cut - tail.file_offset);
      KeepAtCut(taken, cut);
      if (TakeWhole(taken, cut, Contenders(taken, cut, cut_at), pieces)) return true;
      taken.pop_back();
      if (Spent()) return false;
    }
    return false;
  }

  // The continuations after a cut at `cut_at` (the file's first `cut` bytes) worth following:
  // of the units whose decoding goes on with the rows going on across the seam, the one that
  // goes on most smoothly and those that come near it (at most kMaxContenders; more leave the
  // place unknown). Pictures of one set of Huffman tables decode on in each other's data, and
  // only the rows tell them apart; where they cannot, the nearest units are the contenders.
  // Units that end the picture are the only contenders when there are any. The units are probed
  // nearest first; once kMinProbed are, a clear choice ends the search.
  struct Contending {
    std::vector<Fit> fits;
    bool rows_tell = true;
  };
  Contending Contenders(const std::vector<FilePiece>& taken, uint64_t cut, uint64_t cut_at) {
    std::vector<Fit> fits;
    uint32_t probed = 0;
    for (const uint64_t next : Candidates(taken, cut_at)) {
      if (Spent()) return {};
      const Fit fit = Probe(taken, cut, next);
      if (fit.reached != 0) fits.push_back(fit);
      if (++probed >= kMinProbed && Clear(fits)) break;
    }
    std::vector<Fit> ends;
    std::copy_if(fits.begin(), fits.end(), std::back_inserter(ends),
                 [](const Fit& f) { return f.whole; });
    if (!ends.empty()) fits = std::move(ends);
    std::stable_sort(fits.begin(), fits.end(), Smoother);
    if (fits.empty()) return {};
    // Where the rows cannot tell (a seam in a progressive picture's later scans), the nearest.
    if (fits[0].jump < 0) {
      fits.resize(std::min(fits.size(), kMaxContenders));
      return {fits, false};
    }
    // Else those near the smoothest.
    if (Score(fits[0]) > kClearJump && !fits[0].whole) return {};
    const double near = kTieFactor * Score(fits[0]) + kTieMargin;
    size_t count = 0;
    while (count < fits.size() && (fits[0].whole || Score(fits[count]) < near)) ++count;
    if (count > kMaxSmoothContenders) return {};
    fits.resize(count);
    return {fits, true};
  }

  // Follows each of the contenders after the pieces `taken` (the file's first `cut` bytes): the
  // picture is put together only when exactly one of them makes it whole. Where the rows cannot
  // tell, the first that does is taken: a progressive picture's last scans may decode whole with
  // a unit of their data left out, as they do in a real decoder; the nearest unit goes on most
  // likely, and another picture's data decodes on only with the same tables, which progressive
  // pictures have of their own.
  bool TakeWhole(const std::vector<FilePiece>& taken, uint64_t cut, const Contending& contending,
                 std::vector<FilePiece>* pieces) {
    const std::vector<Fit>& contenders = contending.fits;
    std::vector<FilePiece> found;
    for (size_t i = 0; i < contenders.size() && (found.empty() || contending.rows_tell); ++i) {
      // The search after a contender keeps states of its own.
      if (i > 0) KeepAtCut(taken, cut);
      std::vector<FilePiece> trial = taken, whole;
      const Fit& fit = contenders[i];
      if (!(fit.whole ? Found(trial, cut, fit.next, fit.reached, &whole)
                      : Follow(trial, cut, fit.next, &whole))) {
        continue;
      }
      if (!found.empty()) return false;  // two ways make it whole: which one is unknown
      found = std::move(whole);
    }
    if (found.empty()) return false;
    *pieces = std::move(found);
    return true;
  }

  static bool Smoother(const Fit& a, const Fit& b) { return Score(a) < Score(b); }
  // A seam whose rows could not be compared ranks after every one that could.
  static double Score(const Fit& fit) { return fit.jump < 0 ? kUnknownScore : fit.jump; }

  // Whether the smoothest of `fits` is clearly smoother than every other one. Where the rows
  // cannot tell (a seam in a progressive picture's later scans, which carry no DC values), only
  // a continuation that no other unit's decoding matches is clear.
  static bool Clear(std::vector<Fit>& fits) {
    if (fits.empty()) return false;
    std::partial_sort(fits.begin(), fits.begin() + std::min<ptrdiff_t>(2, std::ssize(fits)),
                      fits.end(), Smoother);
    if (fits[0].jump < 0) return fits.size() == 1;
    if (Score(fits[0]) > kClearJump) return false;
    return fits.size() == 1 || Score(fits[1]) >= kTieFactor * Score(fits[0]) + kTieMargin;
  }

  Fit Probe(const std::vector<FilePiece>& taken, uint64_t cut, uint64_t next) {
    ++continuations_;
    std::vector<FilePiece> layout = taken;
    layout.push_back({next, size_ - next});
    JpegRowTrace trace;
    const JpegCheck probe = Decode(layout, cut + 2 * units_.bytes, &trace);
    Fit fit{next};
    if (probe.verdict == JpegVerdict::kBroken && probe.broken_at < cut + units_.bytes) return fit;
    fit.jump = JumpAt(trace, cut);
    if (Jumps(fit.jump)) return fit;
    fit.whole = probe.verdict == JpegVerdict::kWhole;
    fit.reached =
        fit.whole ? probe.end : (probe.stopped ? cut + 2 * units_.bytes : probe.broken_at);
    return fit;
  }

  // Decodes the picture on with the fragment at `next` and finds the rest of it from there.
  bool Follow(std::vector<FilePiece>& taken, uint64_t cut, uint64_t next,
              std::vector<FilePiece>* pieces) {
    std::vector<FilePiece> layout = taken;
    layout.push_back({next, size_ - next});
    JpegRowTrace trace;
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
  // to the file offset `end`, when it decodes whole and its rows go on across every unit
  // boundary: a fragment may run on into a unit of another picture of the same tables, whose
  // data decodes on with it.
  bool Found(std::vector<FilePiece> taken, uint64_t cut, uint64_t next, uint64_t end,
             std::vector<FilePiece>* pieces) {
    if (end <= cut) return false;  // it ended before the seam: the continuation is no part of it
    taken.push_back({next, end - cut});
    JpegRowTrace trace;
    at_cut_ = {};  // the whole picture, every row of it
    if (Decode(taken, kNoStop, &trace).verdict != JpegVerdict::kWhole) return false;
    uint64_t file_offset = 0;
    for (const FilePiece& piece : taken) {
      for (uint64_t at = units_.BoundaryFrom(piece.source_offset);
           at < piece.source_offset + piece.length; at += units_.bytes) {
        if (JumpAt(trace, file_offset + (at - piece.source_offset)) > kSeamJump) return false;
      }
      file_offset += piece.length;
    }
    *pieces = std::move(taken);
    return true;
  }

  // The file offsets where the fragment at `tail` may end, the likeliest first (at most
  // kMaxCuts): before its first unit past the picture's data start that holds no JPEG data;
  // else where the rows jump past anything inside a picture, the last boundary before the point
  // where its decoding broke, the boundaries where the rows jump most, then the last ones.
  std::vector<uint64_t> Cuts(Tail tail, uint64_t broken_at, const JpegRowTrace& trace) {
    std::vector<uint64_t> boundaries;
    const uint64_t from = std::max(tail.file_offset, data_start_) + 1;
    for (uint64_t at = units_.BoundaryFrom(tail.source_offset + (from - tail.file_offset));
         at - tail.source_offset + tail.file_offset <= broken_at; at += units_.bytes) {
      boundaries.push_back(at - tail.source_offset + tail.file_offset);
    }
    for (const uint64_t cut : boundaries) {
      if (!HoldsJpegData(tail.source_offset + (cut - tail.file_offset))) return {cut};
    }
    // A jump past anything inside a picture: the fragment ran on into data of another picture
    // of the same tables. Else foreign bytes most often break the decoding within a unit.
    std::vector<std::pair<double, uint64_t>> jumps;
    for (const uint64_t cut : boundaries) {
      const double jump = JumpAt(trace, cut);
      if (jump > kCutJump) jumps.push_back({jump, cut});
    }
    std::sort(jumps.rbegin(), jumps.rend());
    std::vector<uint64_t> cuts;
    const auto add = [&cuts](uint64_t cut) {
      if (cuts.size() < kMaxCuts && std::find(cuts.begin(), cuts.end(), cut) == cuts.end()) {
        cuts.push_back(cut);
      }
    };
    for (size_t i = 0; i < jumps.size() && i < kJumpCuts && jumps[i].first > kSeamJump; ++i) {
      add(jumps[i].second);
    }
    if (!boundaries.empty()) add(boundaries.back());
    for (size_t i = 0; i < jumps.size() && i < kJumpCuts; ++i) add(jumps[i].second);
    for (auto it = boundaries.rbegin(); it != boundaries.rend(); ++it) add(*it);
    return cuts;
  }

  // The units that may start the next fragment after a cut at `cut_at`: whole inside the source,
  // holding JPEG data, outside the pieces `taken`; those after a unit that holds none first,
  // nearest first.
  std::vector<uint64_t> Candidates(const std::vector<FilePiece>& taken, uint64_t cut_at) {
    std::vector<uint64_t> first, then;
    UnitCandidates units(units_, cut_at, kReachUnits, size_, taken);
    for (uint64_t at = 0; units.Next(&at);) {
      if (at + units_.bytes > size_ || !HoldsJpegData(at)) continue;
      const bool opens = at < units_.bytes || !HoldsJpegData(at - units_.bytes);
      (opens ? first : then).push_back(at);
    }
    first.insert(first.end(), then.begin(), then.end());
    return first;
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

  // The last HeadersGoOn decoding.
  JpegCheck header_check_;
  JpegRowTrace header_trace_;
  bool last_headers_go_on_ = false;
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
  // The decoding's state just before the cut being tried, and about where it was kept.
  JpegKeptState at_cut_;
  uint64_t kept_from_ = 0;
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
