#include "carve/formats/avi_reassembly.h"

#include <algorithm>
#include <cstring>

#include "carve/formats/riff_check.h"
#include "carve/unique_best.h"
#include "carve/unit_candidates.h"
#include "carve/unit_phase_search.h"
#include "platform/byte_order.h"

namespace kestrel {
namespace {

constexpr size_t kMaxPieces = 16;
constexpr uint64_t kReachUnits = 256;
constexpr uint64_t kHorizonUnits = 16;
// More boundaries than this inside one chunk leave the cut's place unknown (every one fits).
constexpr uint64_t kMaxCutsPerChunk = 16;
constexpr size_t kMaxHits = 256;
constexpr uint64_t kMaxHeaderReads = uint64_t{1} << 18;
constexpr uint64_t kMaxSearchUnits = 16384;
constexpr uint32_t kMaxIndexCopies = 4;
constexpr uint32_t kMaxTopChunks = 64;
constexpr uint64_t kHeadBytes = 8;
constexpr uint64_t kEntryBytes = 16;
constexpr uint32_t kIdx1 = 'i' | 'd' << 8 | 'x' << 16 | uint32_t{'1'} << 24;

bool IsCode(const uint8_t* p, const char (&code)[5]) {
  return std::memcmp(p, code, 4) == 0;
}

// A chunk header the file holds at file offset `at`.
struct ChunkHead {
  uint64_t at = 0;
  uint32_t id = 0;
  uint32_t size = 0;
};

class AviReassembly {
 public:
  AviReassembly(ByteSource& source, uint64_t start, const ByteUnits& units)
      : source_(source), start_(start), units_(units) {}

  bool Run(std::vector<FilePiece>* pieces) {
    if (!ReadLayout() || !FindIndex() || !ReadEntries()) return false;
    pieces_.push_back({start_, source_.Size() - start_});
    for (size_t k = 0; k < heads_.size(); ++k) {
      if (HeadAt(pieces_, k)) continue;
      if (pieces_.size() == kMaxPieces || !Cut(k)) return false;
    }
    *pieces = PiecesUpTo(pieces_, file_size_);
    return pieces->size() >= 2;
  }

 private:
  // The RIFF header and the chunks up to the movie list, in place from the file's start.
  bool ReadLayout() {
    uint8_t h[12];
    if (!source_.ReadExact(start_, h, sizeof h) || !IsCode(h, "RIFF") || !IsCode(h + 8, "AVI ")) {
      return false;
    }
    file_size_ = uint64_t{LoadLe32(h + 4)} + 8;
    uint64_t at = 12;
    for (uint32_t n = 0; n < kMaxTopChunks && at + 12 <= file_size_; ++n) {
      if (!source_.ReadExact(start_ + at, h, sizeof h)) return false;
      const uint64_t size = LoadLe32(h + 4);
      if (IsCode(h, "LIST") && IsCode(h + 8, "movi")) {
        movi_ = at;
        index_at_ = at + kHeadBytes + size + (size & 1);
        return index_at_ + kHeadBytes <= file_size_;
      }
      at += kHeadBytes + size + (size & 1);
    }
    return false;
  }

  // The idx1 header at its place (the movie list's end) of the units within reach: one, or copies
  // of one index (the file twice in the source).
  bool FindIndex() {
    index_size_ = file_size_ - index_at_ - kHeadBytes;
    if (index_size_ % kEntryBytes != 0 || index_size_ > kMaxRiffIndexEntries * kEntryBytes) {
      return false;
    }
    const uint64_t in_place = start_ + index_at_;
    const uint64_t phase = in_place - (units_.BoundaryFrom(in_place + 1) - units_.bytes);
    const uint64_t reach = kReachUnits * units_.bytes;
    const uint64_t low = units_.BoundaryFrom(start_ > reach ? start_ - reach : 0);
    const uint64_t high = std::min(source_.Size(), start_ + file_size_ + reach);
    if ((high - std::min(high, low)) / units_.bytes > kMaxSearchUnits) return false;
    uint32_t matches = 0;
    for (const uint64_t at :
         HeadersAtPhase(kIdx1, static_cast<uint32_t>(index_size_), phase, low, high)) {
      std::vector<uint8_t> index(static_cast<size_t>(index_size_));
      if (!source_.ReadExact(at + kHeadBytes, index.data(), index.size())) continue;
      if (++matches > kMaxIndexCopies || (matches > 1 && index != index_)) return false;
      index_ = std::move(index);
    }
    return matches > 0;
  }

  // The chunk headers the index places, in file order, then the index's own.
  bool ReadEntries() {
    uint64_t base = 0;
    for (size_t k = 0; k + kEntryBytes <= index_.size(); k += kEntryBytes) {
      const uint8_t* entry = index_.data() + k;
      const uint64_t offset = LoadLe32(entry + 8);
      if (k == 0) {
        // Offsets count from the movi list's type, from the file's start, or (some writers)
        // from the movi list's first chunk.
        if (offset == 4) {
          base = movi_ + 8;
        } else if (offset == 0) {
          base = movi_ + 12;
        } else if (offset != movi_ + 12) {
          return false;
        }
      }
      const ChunkHead head{base + offset, LoadLe32(entry), LoadLe32(entry + 12)};
      const uint64_t after = heads_.empty() ? movi_ + 12 : heads_.back().at + kHeadBytes;
      if (head.at < after || head.at + kHeadBytes + head.size > index_at_) return false;
      heads_.push_back(head);
    }
    heads_.push_back({index_at_, kIdx1, static_cast<uint32_t>(index_size_)});
    return true;
  }

  // Whether the `k`th chunk header lies where `pieces` put it.
  bool HeadAt(const std::vector<FilePiece>& pieces, size_t k) {
    if (++reads_ > kMaxHeaderReads) return false;
    PieceSource file(source_, pieces);
    uint8_t h[kHeadBytes];
    return file.ReadExact(heads_[k].at, h, sizeof h) && LoadLe32(h) == heads_[k].id &&
           LoadLe32(h + 4) == heads_[k].size;
  }

  // The source offsets at `phase` into each unit from the boundary `low` up to `high` that hold
  // a chunk header of `id` and `size`: read a block at a time, not unit by unit.
  std::vector<uint64_t> HeadersAtPhase(uint32_t id, uint32_t size, uint64_t phase, uint64_t low,
                                       uint64_t high) {
    return FindAtPhase(
        source_, units_, phase, low, high, kHeadBytes, kMaxHits,
        [id, size](const uint8_t* h) { return LoadLe32(h) == id && LoadLe32(h + 4) == size; });
  }

  uint64_t OpenFileOffset() const { return LastPieceFileOffset(pieces_); }

  // The `k`th chunk header is not where the pieces put it: the open piece ends at a boundary
  // after the header before it, and goes on from the candidate unit with which the most headers
  // within the horizon hold.
  bool Cut(size_t k) {
    const FilePiece open = pieces_.back();
    const uint64_t open_file = OpenFileOffset();
    const uint64_t after = k == 0 ? movi_ + 12 : heads_[k - 1].at + kHeadBytes;
    const uint64_t from = std::max(after, open_file);
    if (heads_[k].at + kHeadBytes <= from) return false;
    // The same horizon for every cut: a later cut must not see further.
    const uint64_t horizon = heads_[k].at + kHorizonUnits * units_.bytes;
    UniqueBest<std::vector<FilePiece>, size_t> best;  // the most headers held
    const uint64_t first = units_.BoundaryFrom(open.source_offset + (from - open_file) + 1);
    // Cuts up to the header's first byte (a cut inside its 8 bytes is not looked for).
    const uint64_t last = open.source_offset + (heads_[k].at - open_file);
    if (first > last || (last - first) / units_.bytes >= kMaxCutsPerChunk) return false;
    const uint64_t in_place = open.source_offset + (heads_[k].at - open_file);
    const uint64_t phase = in_place - (units_.BoundaryFrom(in_place + 1) - units_.bytes);
    const uint64_t reach = kReachUnits * units_.bytes;
    const std::vector<uint64_t> hits = HeadersAtPhase(
        heads_[k].id, heads_[k].size, phase, units_.BoundaryFrom(first > reach ? first - reach : 0),
        std::min(source_.Size(), last + reach + units_.bytes));
    for (uint64_t cut = first; cut <= last; cut += units_.bytes) {
      const uint64_t into = heads_[k].at - (open_file + (cut - open.source_offset));
      UnitCandidates candidates(units_, cut, kReachUnits, source_.Size(), pieces_);
      for (uint64_t next = 0; candidates.Next(&next);) {
        if (!std::binary_search(hits.begin(), hits.end(), next + into)) continue;
        if (reads_ > kMaxHeaderReads) return false;
        std::vector<FilePiece> trial(pieces_.begin(), pieces_.end() - 1);
        trial.push_back({open.source_offset, cut - open.source_offset});
        trial.push_back({next, source_.Size() - next});
        size_t held = 0;
        while (k + held < heads_.size() && (held == 0 || heads_[k + held].at < horizon) &&
               HeadAt(trial, k + held)) {
          ++held;
        }
        if (held != 0) best.Offer(std::move(trial), held);
      }
    }
    if (!best.Unique()) return false;
    pieces_ = std::move(best.best());
    return true;
  }

  ByteSource& source_;
  uint64_t start_;
  ByteUnits units_;
  uint64_t file_size_ = 0;
  uint64_t movi_ = 0;      // file offset of the movie list's header
  uint64_t index_at_ = 0;  // and of the idx1 header, at the movie list's end
  uint64_t index_size_ = 0;
  std::vector<uint8_t> index_;  // the idx1 entries
  std::vector<ChunkHead> heads_;
  std::vector<FilePiece> pieces_;  // the last one runs on to the source's end
  uint64_t reads_ = 0;
};

}  // namespace

bool ReassembleAvi(ByteSource& source, uint64_t start, uint64_t /*length*/, const ByteUnits& units,
                   std::vector<FilePiece>* pieces) {
  if (units.bytes == 0 || start >= source.Size()) return false;
  return AviReassembly(source, start, units).Run(pieces);
}

}  // namespace kestrel
