#include "carve/formats/mov_reassembly.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <span>

#include "carve/formats/check_window.h"
#include "carve/formats/mov_movie_box.h"
#include "carve/formats/mov_nal_chain.h"
#include "carve/formats/mov_tracks.h"
#include "carve/unique_best.h"
#include "carve/unit_candidates.h"
#include "platform/byte_order.h"

namespace kestrel {
namespace {

constexpr size_t kMaxPieces = 16;
constexpr uint64_t kReachUnits = 256;
constexpr uint64_t kHorizonUnits = 16;
// More boundaries than this between the last bytes looked into and the chain that broke leave
// the cut's place unknown.
constexpr uint64_t kMaxCutsPerGap = 8;
constexpr uint64_t kMaxChainTrials = uint64_t{1} << 16;
constexpr uint64_t kMaxNalUnits = 4'000'000;
constexpr size_t kMaxSamples = 2'000'000;
constexpr uint32_t kMaxLeadingAtoms = 16;
constexpr uint64_t kMaxLeadingBytes = uint64_t{1} << 20;
constexpr size_t kProbeWindow = 64;
// AAC frames in the bytes the video proved the movie's that must all start strictly before the
// frames past them are held to it.
constexpr uint32_t kMinStrictAacFrames = 4;
constexpr uint64_t kNoRoomBound = uint64_t{1} << 62;

// What is checked at a place of the file.
enum class Mark : uint8_t {
  kNalChain,  // a video sample: a chain of NAL units to its end
  kAacFrame,  // an AAC frame: it starts with a channel element (tag 0), fill or data element
  kMovieBox,  // the movie box after the media data: where it was found
};

// A place the movie's own structure can be checked at, in file order.
struct Checkpoint {
  uint64_t at = 0;
  uint32_t size = 0;  // a sample's bytes
  Mark mark = Mark::kNalChain;
  uint8_t length_size = 4;
  bool hevc = false;
  uint8_t channels = 0;  // an AAC frame's channel configuration (0: not known)
};

// What a checkpoint showed: whether it holds, and the end of the bytes read to tell.
struct Probe {
  bool holds = false;
  uint64_t probed_end = 0;
};

class MovReassembly {
 public:
  MovReassembly(ByteSource& source, uint64_t start, const ByteUnits& units)
      : source_(source), start_(start), units_(units) {}

  bool Run(std::vector<FilePiece>* pieces) {
    if (!ReadLeadingAtoms()) return false;
    if (movie_first_ ? !PlaceMovieBoxFirst() : !FindMovieBoxAfterData()) return false;
    if (!ListCheckpoints() || !WalkCheckpoints()) return false;
    std::vector<FilePiece> file = PiecesUpTo(pieces_, media_.end);
    if (movie_first_) {
      if (!TailHoldsNoBoundary(file)) return false;
    } else {
      file.insert(file.end(), movie_.pieces.begin(), movie_.pieces.end());
    }
    *pieces = Merged(file);
    return pieces->size() >= 2;
  }

 private:
  // Every checkpoint in file order where the pieces put it, cutting the open piece where one
  // does not hold.
  bool WalkCheckpoints() {
    // The file as the pieces found so far put it, read forwards through one window.
    auto file = std::make_unique<PieceSource>(source_, pieces_);
    auto window = std::make_unique<CheckWindow>(*file, 0, file->Size());
    for (size_t k = 0; k < checkpoints_.size(); ++k) {
      Probe probe = Holds(pieces_, k, window.get());
      if (!probe.holds) {
        if (aac_frames_ == AacFrames::kLearning) {
          aac_frames_ = FramesStartStrictly(*window) ? AacFrames::kStrict : AacFrames::kLoose;
        }
        if (pieces_.size() == kMaxPieces || !Cut(k, probe.probed_end)) return false;
        file = std::make_unique<PieceSource>(source_, pieces_);
        window = std::make_unique<CheckWindow>(*file, 0, file->Size());
        probe = Holds(pieces_, k, window.get());
        if (!probe.holds) return false;
      }
      // An AAC frame's first byte may hold by chance in foreign bytes: it is no proof that the
      // bytes before it are the movie's.
      if (checkpoints_[k].mark != Mark::kAacFrame) {
        verified_to_ = std::max(verified_to_, probe.probed_end);
      }
    }
    // A chain taken as fitting once the budget ran out proves nothing.
    return nal_units_left_ > 0;
  }

  // Whether the AAC frame of `point` starts with `head`: by its first byte, and once the
  // movie's frames were found to start strictly, that way too.
  bool AacFrameHolds(const Checkpoint& point, const uint8_t* head) const {
    if (!StartsAacFrame(head[0])) return false;
    return aac_frames_ != AacFrames::kStrict || StartsAacFrameOf(head, point.channels);
  }

  // The first kAacFrameHead bytes of the AAC frame at file offset `at` (zeros past the file's
  // end); false when not even its first byte can be read.
  static bool ReadAacHead(CheckWindow& window, uint64_t at, uint8_t* head) {
    for (size_t i = 0; i < kAacFrameHead; ++i) {
      const int byte = window.Byte(at + i);
      if (byte < 0 && i == 0) return false;
      head[i] = static_cast<uint8_t>(std::max(byte, 0));
    }
    return true;
  }

  // Whether the AAC frames in the bytes the video samples proved the movie's (before
  // verified_to_), read through `window`, all start the way encoders start them
  // (StartsAacFrameOf), kMinStrictAacFrames of them at least. An encoder may open its stream
  // with a frame that carries its name in a fill element.
  bool FramesStartStrictly(CheckWindow& window) const {
    uint32_t strict = 0;
    for (const Checkpoint& point : checkpoints_) {
      if (point.at >= verified_to_) break;
      if (point.mark != Mark::kAacFrame) continue;
      uint8_t head[kAacFrameHead];
      if (!ReadAacHead(window, point.at, head)) return false;
      if (StartsAacFrameOf(head, point.channels)) {
        ++strict;
      } else if (strict > 0 || !StartsAacFrame(head[0])) {
        return false;
      }
    }
    return strict >= kMinStrictAacFrames;
  }

  // The top-level atoms from the file's start, in place, up to the media data or the movie box.
  bool ReadLeadingAtoms() {
    uint64_t at = 0;
    for (uint32_t n = 0; n < kMaxLeadingAtoms && at < kMaxLeadingBytes; ++n) {
      uint8_t h[16];
      if (!source_.ReadExact(start_ + at, h, sizeof h) || !IsPrintableMovBoxType(h + 4))
        return false;
      // Pieces may lie before the file's start: its atoms may reach past the source's end.
      const std::optional<MovBoxHeader> box = ReadMovBoxHeader(h, kNoRoomBound);
      if (!box || LoadBe32(h) == 0) return false;
      if (IsMovBoxType(h + 4, "mdat")) {
        media_ = {at + box->header_bytes, at + box->size};
        movie_at_ = media_.end;
        verified_to_ = media_.first;
        return true;
      }
      if (IsMovBoxType(h + 4, "moov")) {
        movie_at_ = at;
        movie_first_ = true;
        return true;
      }
      at += box->size;
    }
    return false;
  }

  // The movie box in place after the leading atoms, then the atoms up to the media data, read
  // through the pieces the movie box was found in.
  bool PlaceMovieBoxFirst() {
    const uint64_t at = start_ + movie_at_;
    if (!MovieBoxSearch(source_, units_, std::nullopt, movie_at_).Assemble(at, start_, &movie_)) {
      return false;
    }
    pieces_ = movie_.pieces;
    pieces_.front() = {start_, movie_at_ + pieces_.front().length};
    pieces_.back().length = source_.Size() - pieces_.back().source_offset;
    PieceSource file(source_, pieces_);
    uint64_t next = movie_at_ + movie_.bytes.size();
    for (uint32_t n = 0; n < kMaxLeadingAtoms; ++n) {
      uint8_t h[16];
      if (!file.ReadExact(next, h, sizeof h) || !IsPrintableMovBoxType(h + 4)) return false;
      const std::optional<MovBoxHeader> box = ReadMovBoxHeader(h, kNoRoomBound);
      if (!box || LoadBe32(h) == 0) return false;
      if (IsMovBoxType(h + 4, "mdat")) {
        media_ = {next + box->header_bytes, next + box->size};
        verified_to_ = media_.first;
        return true;
      }
      next += box->size;
    }
    return false;
  }

  // The movie box after the media data, at its place in the units within reach.
  bool FindMovieBoxAfterData() {
    pieces_ = {{start_, source_.Size() - start_}};
    return MovieBoxSearch(source_, units_, media_, movie_at_)
        .FindAtPlace(start_, start_ + movie_at_, &movie_);
  }

  // The NAL unit chains of the video samples in file order, then the movie box after the media
  // data; every sample inside the media data.
  bool ListCheckpoints() {
    std::vector<MovTrack> tracks;
    if (ReadMovieTracks(std::span<const uint8_t>(movie_.bytes).subspan(8), &tracks) !=
        MoovRead::kRead) {
      return false;
    }
    for (const MovTrack& track : tracks) {
      const MovChunks walk =
          ForEachChunk(track, [&](uint64_t offset, uint64_t sample, uint64_t count) {
            if (offset < media_.first || offset > media_.end ||
                track.SamplesBytes(sample, count) > media_.end - offset) {
              return false;
            }
            const bool chains = track.samples == MovSamples::kNalUnits;
            if (!chains && !track.aac) return true;
            for (uint64_t k = 0; k < count; ++k) {
              if (checkpoints_.size() >= kMaxSamples) return false;
              const uint32_t size = track.SampleSize(static_cast<uint32_t>(sample + k));
              if (size > 0) {
                checkpoints_.push_back({offset, size, chains ? Mark::kNalChain : Mark::kAacFrame,
                                        track.nal_length_size, track.hevc, track.aac_channels});
              }
              offset += size;
            }
            return true;
          });
      if (walk != MovChunks::kAll) return false;
    }
    std::sort(checkpoints_.begin(), checkpoints_.end(),
              [](const Checkpoint& a, const Checkpoint& b) { return a.at < b.at; });
    if (!movie_first_) checkpoints_.push_back({movie_at_, 0, Mark::kMovieBox});
    return true;
  }

  // Whether the `k`th checkpoint holds where `pieces` put it (read through `window` when given,
  // a window over them).
  Probe Holds(const std::vector<FilePiece>& pieces, size_t k, CheckWindow* window = nullptr) {
    const Checkpoint& point = checkpoints_[k];
    if (point.mark == Mark::kMovieBox) {
      return {SourceOf(pieces, point.at) == movie_.pieces.front().source_offset, point.at + 1};
    }
    PieceSource file(source_, pieces);
    CheckWindow own(file, 0, file.Size(), kProbeWindow);
    CheckWindow& read = window != nullptr ? *window : own;
    if (point.mark == Mark::kAacFrame) {
      uint8_t head[kAacFrameHead];
      return {ReadAacHead(read, point.at, head) && AacFrameHolds(point, head), point.at + 1};
    }
    const NalChain chain =
        ReadNalChain(read, point.at, point.size, point.length_size, point.hevc, &nal_units_left_);
    return {chain.fits && !read.failed(), chain.probed_end};
  }

  // Whether the rest of the `k`th checkpoint's chain from file offset `from` (a place of its chain)
  // reads on at source offset `at`.
  bool ChainGoesOnAt(size_t k, uint64_t from, uint64_t at) {
    const Checkpoint& point = checkpoints_[k];
    if (point.mark == Mark::kMovieBox) return at == movie_.pieces.front().source_offset;
    if (point.mark == Mark::kAacFrame) {
      uint8_t head[kAacFrameHead] = {};
      if (!source_.ReadExact(at, head, 1)) return false;
      source_.ReadAt(at + 1, head + 1, kAacFrameHead - 1);  // past the source's end: zeros
      return AacFrameHolds(point, head);
    }
    CheckWindow window(source_, at, source_.Size() - std::min(at, source_.Size()), kProbeWindow);
    const NalChain chain = ReadNalChain(window, 0, point.at + point.size - from, point.length_size,
                                        point.hevc, &nal_units_left_);
    return chain.fits && !window.failed();
  }

  // The place of the `k`th checkpoint's chain (read in place through the pieces) that is the first
  // at or after file offset `cut`; none when a length crosses the cut or the chain ends first.
  std::optional<uint64_t> ChainPlaceFrom(size_t k, uint64_t cut) {
    const Checkpoint& point = checkpoints_[k];
    if (point.at >= cut) return point.at;
    if (point.mark != Mark::kNalChain) return std::nullopt;
    PieceSource file(source_, pieces_);
    const uint64_t end = point.at + point.size;
    for (uint64_t at = point.at; at < end && nal_units_left_ > 0; --nal_units_left_) {
      if (at >= cut) return at;
      uint8_t length[4];
      if (at + point.length_size > cut || !file.ReadExact(at, length, point.length_size)) break;
      uint64_t unit = 0;
      for (uint32_t i = 0; i < point.length_size; ++i) unit = unit << 8 | length[i];
      if (unit == 0) break;
      at += point.length_size + unit;
    }
    return std::nullopt;
  }

  static uint64_t SourceOf(const std::vector<FilePiece>& pieces, uint64_t file_offset) {
    for (const FilePiece& piece : pieces) {
      if (file_offset < piece.length) return piece.source_offset + file_offset;
      file_offset -= piece.length;
    }
    return ~uint64_t{0};
  }

  uint64_t OpenFileOffset() const { return LastPieceFileOffset(pieces_); }

  // The `k`th checkpoint does not hold where the pieces put it (its read ended at `failed_end`):
  // the open piece ends at a boundary after the last bytes looked into, and goes on from the
  // candidate unit with which the most checkpoints within the horizon hold.
  bool Cut(size_t k, uint64_t failed_end) {
    const FilePiece open = pieces_.back();
    const uint64_t open_file = OpenFileOffset();
    const uint64_t from = std::max(verified_to_, open_file);
    if (failed_end <= from) return false;
    const uint64_t first =
        units_.BoundaryFrom(open.source_offset + (from - open_file) + (from == open_file ? 1 : 0));
    const uint64_t last = open.source_offset + (failed_end - 1 - open_file);
    if (first > last || (last - first) / units_.bytes >= kMaxCutsPerGap) return false;
    // The same horizon for every cut: a later cut must not see further.
    const uint64_t horizon = checkpoints_[k].at + kHorizonUnits * units_.bytes;
    UniqueBest<std::vector<FilePiece>, size_t> best;  // the most checks held
    for (uint64_t cut = first; cut <= last; cut += units_.bytes) {
      const uint64_t cut_file = open_file + (cut - open.source_offset);
      const std::optional<uint64_t> place = ChainPlaceFrom(k, cut_file);
      UnitCandidates candidates(units_, cut, kReachUnits, source_.Size(), pieces_);
      for (uint64_t next = 0; candidates.Next(&next);) {
        if (++chain_trials_ > kMaxChainTrials) return false;
        if (place && !ChainGoesOnAt(k, *place, next + (*place - cut_file))) continue;
        std::vector<FilePiece> trial = GoingOnAt(pieces_, cut, next, source_.Size() - next);
        size_t held = 0;
        while (k + held < checkpoints_.size() &&
               (held == 0 || checkpoints_[k + held].at < horizon) && Holds(trial, k + held).holds) {
          ++held;
        }
        if (held != 0) best.Offer(std::move(trial), held);
      }
    }
    if (!best.Unique()) return false;
    pieces_ = std::move(best.best());
    return true;
  }

  // A movie that ends with its media data: no unit boundary (nor piece start) between the last
  // bytes looked into and its end where a cut could not be told. Where the movie's AAC frames
  // start strictly, two of them after a boundary put it inside the movie.
  bool TailHoldsNoBoundary(const std::vector<FilePiece>& file) const {
    PieceSource bytes(source_, file);
    CheckWindow window(bytes, 0, bytes.Size(), kProbeWindow);
    std::optional<bool> strict;  // read only when the tail holds a boundary
    const auto told = [&](uint64_t boundary) {
      if (!strict) strict = FramesStartStrictly(window);
      return *strict && StrictFramesFrom(window, boundary);
    };
    uint64_t file_offset = 0;
    for (const FilePiece& piece : file) {
      const uint64_t piece_end = file_offset + piece.length;
      if (piece_end > verified_to_ && file_offset < media_.end) {
        if (file_offset > verified_to_ && !told(file_offset)) return false;
        const uint64_t from =
            piece.source_offset + (std::max(verified_to_, file_offset) - file_offset);
        for (uint64_t at = units_.BoundaryFrom(from + 1); at < piece.source_offset + piece.length;
             at += units_.bytes) {
          const uint64_t boundary = file_offset + (at - piece.source_offset);
          if (boundary >= media_.end) break;
          if (!told(boundary)) return false;
        }
      }
      file_offset = piece_end;
    }
    return true;
  }

  // Whether two AAC frames that start strictly lie between file offset `from` and the end of the
  // media data, read through `window`.
  bool StrictFramesFrom(CheckWindow& window, uint64_t from) const {
    const auto first =
        std::lower_bound(checkpoints_.begin(), checkpoints_.end(), from,
                         [](const Checkpoint& point, uint64_t at) { return point.at < at; });
    size_t frames = 0;
    for (auto it = first; it != checkpoints_.end() && it->at < media_.end && frames < 2; ++it) {
      if (it->mark != Mark::kAacFrame) continue;
      uint8_t head[kAacFrameHead];
      if (!ReadAacHead(window, it->at, head) || !StartsAacFrameOf(head, it->channels)) {
        return false;
      }
      ++frames;
    }
    return frames == 2;
  }

  static std::vector<FilePiece> Merged(const std::vector<FilePiece>& pieces) {
    std::vector<FilePiece> merged;
    for (const FilePiece& piece : pieces) AppendPiece(merged, piece.source_offset, piece.length);
    return merged;
  }

  ByteSource& source_;
  uint64_t start_;
  ByteUnits units_;
  bool movie_first_ = false;
  uint64_t movie_at_ = 0;  // file offset of the movie box's header
  MovSpan media_;          // the media data's body
  MovieBox movie_;
  std::vector<Checkpoint> checkpoints_;
  std::vector<FilePiece> pieces_;  // the last one runs on to the source's end
  uint64_t verified_to_ = 0;       // file offset up to which bytes were looked into
  uint64_t chain_trials_ = 0;
  uint64_t nal_units_left_ = kMaxNalUnits;
  // How AAC frames are checked after a cut: learned at the first from the frames before it.
  enum class AacFrames : uint8_t { kLearning, kStrict, kLoose };
  AacFrames aac_frames_ = AacFrames::kLearning;
};

}  // namespace

bool ReassembleMov(ByteSource& source, uint64_t start, uint64_t /*length*/, const ByteUnits& units,
                   std::vector<FilePiece>* pieces) {
  if (units.bytes == 0 || start >= source.Size()) return false;
  return MovReassembly(source, start, units).Run(pieces);
}

}  // namespace kestrel
