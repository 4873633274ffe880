#include "carve/formats/mp3_reassembly.h"

#include <algorithm>
#include <cstring>

#include "carve/formats/mp3.h"
#include "carve/formats/mp3_check.h"
#include "carve/formats/source_window.h"
#include "carve/unit_candidates.h"

namespace kestrel {
namespace {

constexpr size_t kWindowBytes = 64 * 1024;
constexpr size_t kBehindBytes = 8 * 1024;
constexpr size_t kMaxPieces = 16;
constexpr uint64_t kCountedUnits = 256;
constexpr uint64_t kUncountedUnits = 64;
constexpr uint64_t kMaxHeaderReads = uint64_t{1} << 20;
constexpr uint32_t kMaxAssemblies = 16;
constexpr size_t kInfoBytes = 64;

class Mp3Search {
 public:
  Mp3Search(ByteSource& source, const ByteUnits& units)
      : source_(source),
        units_(units),
        chain_(source, 0, source.Size(), kWindowBytes),
        after_(source, 0, source.Size(), kWindowBytes),
        before_(source, 0, source.Size(), kBehindBytes) {}

  // Reads the stream's first frame; false when the file opens with none.
  bool Begin(uint64_t start) {
    SourceWindow file(source_, start, source_.Size() - start, kWindowBytes);
    const uint64_t first = start + Mp3FirstFrame(file);
    const uint8_t* p = chain_.At(first, kInfoBytes);
    if (p == nullptr) return false;
    const Mp3Frame frame = Mp3FrameAt(p);
    if (frame.length == 0) return false;
    key_ = Mp3StreamKey(p, frame);
    inside_ = Mp3InsideStream(source_, first, p, frame);
    const Mp3StreamCounts counts = Mp3CountsAt(p, std::min<size_t>(kInfoBytes, frame.length));
    counted_ = counts.frames != 0 || counts.bytes != 0;
    // Encoders count the frames with or without the one holding the counts.
    max_frames_ = counts.frames != 0 ? uint64_t{counts.frames} + 1 : kMaxMp3CheckFrames;
    first_ = first;
    return true;
  }

  // Follows the piece that starts at `piece_start` from the frame at `at`, after `pieces`.
  // `frames` frames lie in them.
  void Extend(std::vector<FilePiece>& pieces, uint64_t piece_start, uint64_t at, uint64_t frames) {
    uint64_t last = at;
    bool any = false;
    while (FrameAt(chain_, at)) {
      last = at;
      at += length_at_;
      any = true;
      if (++frames > max_frames_) return;  // more frames than the stream counts
    }
    if (!any) return;
    const uint64_t trailer = TrailerAt(chain_, at);
    const uint64_t cut = units_.BoundaryFrom(last + 1);
    if (trailer != 0 || cut > at || pieces.size() + 1 == kMaxPieces) {
      pieces.push_back({piece_start, at + trailer - piece_start});
      if (frames + 1 >= max_frames_ || max_frames_ == kMaxMp3CheckFrames) Assembled(pieces);
      pieces.pop_back();
      return;
    }
    // The fragment ends at `cut`; the frame's last `tail` bytes open the next one.
    const uint64_t tail = at - cut;
    const bool carved_piece = pieces.empty();
    pieces.push_back({piece_start, cut - piece_start});
    const uint64_t reach = counted_ ? kCountedUnits : kUncountedUnits;
    UnitCandidates candidates(units_, cut, reach, source_.Size(), pieces);
    for (uint64_t next = 0; !Settled() && candidates.Next(&next);) {
      SourceWindow& probe = next > cut ? after_ : before_;
      if (Overlaps(pieces, next, tail + 4) || !GoesOn(probe, next + tail)) continue;
      if (carved_piece) goes_on_ = true;
      Extend(pieces, next, next + tail, frames);
    }
    pieces.pop_back();
    if (carved_piece && !goes_on_) goes_on_ = ForeignAfterCut(cut, at);
  }

  // Whether the stream goes on past the carve's end, but no single way: its last frame ran over
  // a unit boundary into bytes that went on with it elsewhere, or that show another file there.
  bool GoesOnElsewhere() const { return goes_on_ && passed_ != 1; }

  // The assembly found: the only one whose check passed, all candidates looked at.
  bool Result(std::vector<FilePiece>* pieces) const {
    if (passed_ != 1 || Exhausted()) return false;
    *pieces = found_;
    return true;
  }

  uint64_t first() const { return first_; }
  // Whether the first frame lies inside a stream (mp3_check.h).
  bool InsideStream() const { return inside_; }

 private:
  // Whether a frame of the stream starts at `at`; its length in length_at_.
  bool FrameAt(SourceWindow& window, uint64_t at) {
    if (++reads_ > kMaxHeaderReads) return false;
    const uint8_t* p = window.At(at, 4);
    if (p == nullptr) return false;
    const Mp3Frame frame = Mp3FrameAt(p);
    if (frame.length == 0 || Mp3StreamKey(p, frame) != key_) return false;
    if (frame.length >= kInfoBytes && at != first_) {
      const uint8_t* info = window.At(at, kInfoBytes);
      if (info == nullptr || Mp3InfoFrameAt(info)) return false;  // another stream begins
    }
    length_at_ = frame.length;
    return true;
  }

  // Whether the bytes from the unit boundary `cut` to the chain's end `end`, which the last
  // frame claims, are another file's: an ID3v2 tag starts there, or two frames of the stream off
  // the chain's grid start among them.
  bool ForeignAfterCut(uint64_t cut, uint64_t end) {
    if (const uint8_t* p = after_.At(cut, 10); p != nullptr && Id3v2LengthAt(p) != 0) return true;
    for (uint64_t at = cut; at < end && !Exhausted(); ++at) {
      if (FrameAt(after_, at) && FrameAt(after_, at + length_at_)) return true;
    }
    return false;
  }

  // The length of the APE and ID3v1 tags that follow the last frame at `at`, 0 when none does.
  uint64_t TrailerAt(SourceWindow& window, uint64_t at) {
    uint64_t length = 0;
    if (const uint8_t* p = window.At(at, kApeFrameBytes); p != nullptr) length = ApeLengthAt(p);
    const uint8_t* tag = window.At(at + length, kMp3Id3v1Bytes);
    if (tag != nullptr && std::memcmp(tag, "TAG", 3) == 0) length += kMp3Id3v1Bytes;
    return length;
  }

  // Whether the chain can go on at `at`: a frame of the stream followed by another, or by the
  // closing tags.
  bool GoesOn(SourceWindow& window, uint64_t at) {
    if (!FrameAt(window, at)) return false;
    const uint64_t next = at + length_at_;
    return FrameAt(window, next) || TrailerAt(window, next) != 0;
  }

  static bool Overlaps(const std::vector<FilePiece>& pieces, uint64_t at, uint64_t length) {
    for (const FilePiece& piece : pieces) {
      if (at < piece.source_offset + piece.length && piece.source_offset < at + length) {
        return true;
      }
    }
    return false;
  }

  // A file never holds a unit twice.
  static bool PiecesOverlap(const std::vector<FilePiece>& pieces) {
    for (size_t i = 1; i < pieces.size(); ++i) {
      const std::vector<FilePiece> before(pieces.begin(),
                                          pieces.begin() + static_cast<ptrdiff_t>(i));
      if (Overlaps(before, pieces[i].source_offset, pieces[i].length)) return true;
    }
    return false;
  }

  void Assembled(const std::vector<FilePiece>& pieces) {
    if (pieces.size() < 2 || PiecesOverlap(pieces) || ++assemblies_ > kMaxAssemblies) return;
    PieceSource file(source_, pieces);
    if (CheckMp3(file, 0, file.Size()) != Whole::kYes) return;
    if (++passed_ == 1) found_ = pieces;
  }

  bool Exhausted() const { return reads_ > kMaxHeaderReads || assemblies_ > kMaxAssemblies; }
  // Nothing more to look for: two answers (the place of a piece is unknown) or the work spent.
  bool Settled() const { return passed_ > 1 || Exhausted(); }

  ByteSource& source_;
  const ByteUnits& units_;
  // The chain followed, and the candidates after and before a cut (each read its own way).
  SourceWindow chain_, after_, before_;
  uint32_t key_ = 0;
  bool inside_ = false;
  bool counted_ = false;
  uint64_t max_frames_ = 0;
  uint64_t first_ = 0;
  uint32_t length_at_ = 0;
  uint64_t reads_ = 0;
  uint32_t assemblies_ = 0;
  uint32_t passed_ = 0;
  bool goes_on_ = false;
  std::vector<FilePiece> found_;
};

}  // namespace

bool ReassembleMp3(ByteSource& source, uint64_t start, uint64_t /*length*/, const ByteUnits& units,
                   std::vector<FilePiece>* pieces) {
  Mp3Search search(source, units);
  if (!search.Begin(start)) return false;
  // A carve that began inside a stream, or a stream that goes on where cannot be told, is not
  // whole: no pieces.
  if (search.first() == start && search.InsideStream()) {
    pieces->clear();
    return true;
  }
  std::vector<FilePiece> taken;
  search.Extend(taken, start, search.first(), 0);
  if (search.Result(pieces)) return true;
  if (!search.GoesOnElsewhere()) return false;
  pieces->clear();
  return true;
}

}  // namespace kestrel
