#include "carve/formats/avi_reassembly.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

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
// Trials alike at most, for the look into the units they take.
constexpr size_t kMaxTiedTrials = 64;
// Index entries read after a cut in the index to judge where it goes on.
constexpr size_t kScoreEntries = 64;
constexpr double kMinVideoChiSquare = 400;
constexpr size_t kMinVideoByteValues = 192;
constexpr size_t kMaxMovieLists = 4;
// Chunks of the header walked up to the movie list.
constexpr uint32_t kMaxHeaderChunks = 256;
constexpr int kMaxHeaderDepth = 4;
constexpr uint64_t kRiffHeadBytes = 12;
constexpr uint32_t kList = 'L' | 'I' << 8 | 'S' << 16 | uint32_t{'T'} << 24;
constexpr uint32_t kIdx1 = 'i' | 'd' << 8 | 'x' << 16 | uint32_t{'1'} << 24;

bool IsCode(const uint8_t* p, const char (&code)[5]) {
  return std::memcmp(p, code, 4) == 0;
}

// A compressed video frame's chunk: "##dc".
bool IsVideoChunk(uint32_t id) {
  return (id >> 16) == ('d' | 'c' << 8);
}

// An MPEG-4 Visual frame's first bytes: the start code of a visual object sequence (before a
// key frame) or of a video object plane.
bool StartsMpeg4Frame(const uint8_t* p) {
  return p[0] == 0 && p[1] == 0 && p[2] == 1 && (p[3] == 0xB0 || p[3] == 0xB6);
}

// Whether a unit reads like an MPEG-4 Visual frame's bits rather than random bytes or text: the
// coder's variable-length codes leave the byte values far from even (a chi-square statistic
// over the 256 values of 400 or more, where random bytes give about 255 give or take 23), and
// use nearly every value (text and fill use few).
bool LooksLikeMpeg4Frame(const uint8_t* data, size_t length) {
  std::array<uint32_t, 256> counts{};
  for (size_t k = 0; k < length; ++k) ++counts[data[k]];
  const double even = static_cast<double>(length) / counts.size();
  double chi_square = 0;
  size_t used = 0;
  for (const uint32_t count : counts) {
    chi_square += (count - even) * (count - even) / even;
    used += count != 0;
  }
  return chi_square >= kMinVideoChiSquare && used >= kMinVideoByteValues;
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
    if (!ReadRiffHeader() || !(ReadLayout() || FindMovie()) || !FindIndex() || !ReadEntries()) {
      return false;
    }
    pieces_.push_back({start_, source_.Size() - start_});
    for (size_t k = 0; k < heads_.size(); ++k) {
      if (HeadAt(pieces_, k)) continue;
      if (pieces_.size() == kMaxPieces || !Cut(k)) return false;
    }
    if (index_pieces_.size() > 1 && !TakeIndexPieces()) return false;
    *pieces = PiecesUpTo(pieces_, file_size_);
    return pieces->size() >= 2;
  }

 private:
  // The RIFF header: the file's length.
  bool ReadRiffHeader() {
    uint8_t h[kRiffHeadBytes];
    if (!source_.ReadExact(start_, h, sizeof h) || !IsCode(h, "RIFF") || !IsCode(h + 8, "AVI ")) {
      return false;
    }
    file_size_ = uint64_t{LoadLe32(h + 4)} + 8;
    return true;
  }

  // The chunks up to the movie list, in place from the file's start.
  bool ReadLayout() {
    uint8_t h[12];
    uint64_t at = kRiffHeadBytes;
    for (uint32_t n = 0; n < kMaxTopChunks && at + 12 <= file_size_; ++n) {
      if (!source_.ReadExact(start_ + at, h, sizeof h)) return false;
      const uint64_t size = LoadLe32(h + 4);
      if (IsCode(h, "LIST") && IsCode(h + 8, "movi")) return TakeMovie(at, size);
      at += kHeadBytes + size + (size & 1);
    }
    return false;
  }

  // The movie list at file offset `at`, of `size` bytes: the index follows it.
  bool TakeMovie(uint64_t at, uint64_t size) {
    movi_ = at;
    movi_size_ = static_cast<uint32_t>(size);
    index_at_ = at + kHeadBytes + size + (size & 1);
    return index_at_ + kHeadBytes <= file_size_;
  }

  // The header was cut before the movie list: the list's header is looked for in the units
  // within reach, at any offset, and taken when one, at one place in the file, has an index of
  // the size the file's length leaves it at its end (in its unit at the offset that place
  // gives). The header's pieces are found later by the movie list's header and the header
  // chunks that lead to it.
  bool FindMovie() {
    uint64_t low = 0, high = 0;
    if (!SearchRange(&low, &high)) return false;
    // The list lies in the header's units, within reach of the file's first.
    const uint64_t lists_end =
        std::min(high, start_ + (kMaxCutsPerChunk + 1 + kReachUnits) * units_.bytes);
    std::vector<uint64_t> lists;
    if (!FindMovieLists(low, lists_end, &lists)) return false;
    uint64_t found = 0, found_size = 0;
    for (const uint64_t list : lists) {
      uint8_t h[kHeadBytes];
      if (!source_.ReadExact(list, h, sizeof h)) return false;
      const uint64_t size = LoadLe32(h + 4);
      const uint64_t after = kHeadBytes + size + (size & 1) + kHeadBytes;  // to the index's data
      // The list's offset in the file, as far as its unit tells: then a unit after another.
      const uint64_t phase = (list + units_.bytes - start_ % units_.bytes) % units_.bytes;
      const uint64_t in_place = start_ + phase + after - kHeadBytes;
      const uint64_t index_phase = in_place - (units_.BoundaryFrom(in_place + 1) - units_.bytes);
      const auto place = [&](uint64_t index_size) -> uint64_t {
        // The list's offset that gives the index `index_size` bytes, or 0.
        const uint64_t used = index_size + after;
        if (used > file_size_ || (file_size_ - used) % units_.bytes != phase) return 0;
        const uint64_t at = file_size_ - used;
        return at > 12 && at <= kMaxCutsPerChunk * units_.bytes ? at : 0;
      };
      for (const uint64_t index : FindAtPhase(source_, units_, index_phase, low, high, kHeadBytes,
                                              kMaxHits, [&](const uint8_t* p) {
                                                return LoadLe32(p) == kIdx1 &&
                                                       place(LoadLe32(p + 4)) != 0;
                                              })) {
        uint8_t i[kHeadBytes];
        if (!source_.ReadExact(index, i, sizeof i)) return false;
        const uint64_t at = place(LoadLe32(i + 4));
        if (found != 0 && found != at) return false;
        found = at;
        found_size = size;
      }
    }
    return found != 0 && TakeMovie(found, found_size);
  }

  // The units from `*low` to `*high` that a search for the file's parts looks through: within
  // reach of the file's carve, at most kMaxSearchUnits.
  bool SearchRange(uint64_t* low, uint64_t* high) const {
    const uint64_t reach = kReachUnits * units_.bytes;
    *low = units_.BoundaryFrom(start_ > reach ? start_ - reach : 0);
    *high = std::min(source_.Size(), start_ + file_size_ + reach);
    return (*high - std::min(*high, *low)) / units_.bytes <= kMaxSearchUnits;
  }

  // The source offsets from `low` to `high` of a movie list's header ("LIST", a size, "movi"),
  // at most kMaxMovieLists of them.
  bool FindMovieLists(uint64_t low, uint64_t high, std::vector<uint64_t>* lists) {
    constexpr uint64_t kBlockBytes = uint64_t{1} << 20;
    constexpr uint64_t kListHead = 12;
    std::vector<uint8_t> block;
    for (uint64_t at = low; at < high; at += kBlockBytes) {
      const uint64_t n = std::min(kBlockBytes + kListHead - 1, source_.Size() - at);
      block.resize(static_cast<size_t>(n));
      if (!source_.ReadExact(at, block.data(), block.size())) return false;
      for (uint64_t in = 0; in + kListHead <= n && in < kBlockBytes && at + in < high; ++in) {
        const uint8_t* p = block.data() + in;
        if (p[8] != 'm' || !IsCode(p + 8, "movi") || !IsCode(p, "LIST")) continue;
        if (lists->size() == kMaxMovieLists) return false;
        lists->push_back(at + in);
      }
    }
    return true;
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
    uint64_t low = 0, high = 0;
    if (!SearchRange(&low, &high)) return false;
    const std::vector<uint64_t> headers =
        HeadersAtPhase(kIdx1, static_cast<uint32_t>(index_size_), phase, low, high);
    if (headers.size() > kMaxIndexCopies) return false;
    uint32_t matches = 0;
    for (const uint64_t at : headers) {
      std::vector<uint8_t> index;
      std::vector<FilePiece> index_pieces;
      if (!ReadIndex(at, &index, &index_pieces)) continue;
      if (++matches > 1 && index != index_) return false;
      index_ = std::move(index);
      if (matches == 1) index_pieces_ = std::move(index_pieces);
    }
    return matches > 0;
  }

  // The index whose header lies at source offset `at`, in `*pieces` (from its header on): in
  // place, or cut where an entry stops making sense (an id that is no chunk id, or a chunk
  // before the one the entry before it gives or past the file's end) and gone on elsewhere.
  bool ReadIndex(uint64_t at, std::vector<uint8_t>* index, std::vector<FilePiece>* pieces) {
    pieces->assign({{at, source_.Size() - at}});
    index->resize(static_cast<size_t>(index_size_));
    const size_t count = index->size() / kEntryBytes;
    // The entries from the `from`th on are read again through the pieces after each cut.
    for (size_t from = 0;;) {
      PieceSource file(source_, *pieces);
      uint8_t* entries = index->data() + from * kEntryBytes;
      if (!file.ReadExact(kHeadBytes + from * kEntryBytes, entries, (count - from) * kEntryBytes)) {
        return false;
      }
      const size_t good = from + LeadingEntries(entries, count - from, ChunksEnd(*index, from));
      if (good == count) return true;
      if (pieces->size() == kMaxPieces || !CutIndex(*index, good, pieces, &from)) return false;
    }
  }

  // Where the chunk the entry before the `k`th of `index` gives ends (0 for the first).
  static uint64_t ChunksEnd(const std::vector<uint8_t>& index, size_t k) {
    if (k == 0) return 0;
    const uint8_t* entry = &index[(k - 1) * kEntryBytes];
    return LoadLe32(entry + 8) + kHeadBytes + LoadLe32(entry + 12);
  }

  // How many of the `count` entries at `entries` make sense one after another, the chunk before
  // the first ending at `chunks_end` (offsets as the index gives them).
  size_t LeadingEntries(const uint8_t* entries, size_t count, uint64_t chunks_end) const {
    for (size_t k = 0; k < count; ++k) {
      const uint8_t* entry = entries + k * kEntryBytes;
      const uint64_t offset = LoadLe32(entry + 8);
      const uint64_t end = offset + kHeadBytes + LoadLe32(entry + 12);
      if (!IsRiffChunkId(entry) || offset < chunks_end || end > file_size_) return k;
      chunks_end = end;
    }
    return count;
  }

  // The `bad`th entry of `index`, read through `*pieces`, makes no sense: the open piece ends at
  // a boundary within an entry of it, and goes on from the candidate unit with which the most
  // entries that follow (up to kScoreEntries) make sense; two alike leave it unknown. `*cut_entry`
  // is set to the entry the cut falls in.
  bool CutIndex(const std::vector<uint8_t>& index, size_t bad, std::vector<FilePiece>* pieces,
                size_t* cut_entry) {
    const FilePiece open = pieces->back();
    const uint64_t open_file = LastPieceFileOffset(*pieces);
    const uint64_t bad_at = kHeadBytes + bad * kEntryBytes;  // from the index's header
    const uint64_t low =
        std::max({open_file + 1, bad_at - std::min(bad_at, kEntryBytes - 1), kHeadBytes});
    const uint64_t first = units_.BoundaryFrom(open.source_offset + (low - open_file));
    const uint64_t last = open.source_offset + (bad_at + kEntryBytes - 1 - open_file);
    // The entries that make sense up to, with the entry the cut falls in.
    UniqueBest<std::pair<std::vector<FilePiece>, size_t>, size_t> best;
    for (uint64_t cut = first; cut <= last; cut += units_.bytes) {
      // From the entry the cut falls in, after the one before it.
      const size_t from =
          static_cast<size_t>((open_file + (cut - open.source_offset) - kHeadBytes) / kEntryBytes);
      const uint64_t chunks_end = ChunksEnd(index, from);
      const size_t count = std::min(kScoreEntries, index.size() / kEntryBytes - from);
      std::vector<uint8_t> entries(count * kEntryBytes);
      UnitCandidates candidates(units_, cut, kReachUnits, source_.Size(), *pieces);
      for (uint64_t next = 0; candidates.Next(&next);) {
        if (++reads_ > kMaxHeaderReads) return false;
        std::vector<FilePiece> trial = GoingOnAt(*pieces, cut, next, source_.Size() - next);
        PieceSource file(source_, trial);
        if (!file.ReadExact(kHeadBytes + from * kEntryBytes, entries.data(), entries.size())) {
          continue;
        }
        const size_t held = LeadingEntries(entries.data(), count, chunks_end);
        if (from + held > bad) best.Offer({std::move(trial), from}, from + held);
      }
    }
    if (!best.Unique()) return false;
    *pieces = std::move(best.best().first);
    *cut_entry = best.best().second;
    return true;
  }

  // The chunk headers the index places, in file order, then the index's own.
  bool ReadEntries() {
    heads_.push_back({movi_, kList, movi_size_});
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
      const uint64_t after = k == 0 ? movi_ + 12 : heads_.back().at + kHeadBytes;
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

  // The index was found cut: the pieces put its header where it was found, and its own pieces
  // go on from there.
  bool TakeIndexPieces() {
    const uint64_t header = pieces_.back().source_offset + (index_at_ - OpenFileOffset());
    if (index_at_ < OpenFileOffset() || header != index_pieces_.front().source_offset) {
      return false;
    }
    pieces_ = PiecesUpTo(std::move(pieces_), index_at_);
    for (const FilePiece& piece : index_pieces_) {
      AppendPiece(pieces_, piece.source_offset, piece.length);
    }
    return true;
  }

  uint64_t OpenFileOffset() const { return LastPieceFileOffset(pieces_); }

  // The `k`th chunk header is not where the pieces put it: the open piece ends at a boundary
  // after the header before it, and goes on from the candidate unit with which the most headers
  // within the horizon hold. Of several alike, the one whose units inside a video chunk all look
  // like an MPEG-4 frame's is taken when it is the only one.
  bool Cut(size_t k) {
    const FilePiece open = pieces_.back();
    const uint64_t open_file = OpenFileOffset();
    const uint64_t after = k == 0 ? kRiffHeadBytes : heads_[k - 1].at + kHeadBytes;
    const uint64_t from = std::max(after, open_file);
    if (heads_[k].at + kHeadBytes <= from) return false;
    // The same horizon for every cut: a later cut must not see further.
    const uint64_t horizon = heads_[k].at + kHorizonUnits * units_.bytes;
    // A cut right after the header before (the open piece keeps a byte at least).
    const uint64_t first =
        units_.BoundaryFrom(open.source_offset + (from - open_file) + (from == open_file ? 1 : 0));
    // Cuts up to the header's first byte (a cut inside its 8 bytes is not looked for).
    const uint64_t last = open.source_offset + (heads_[k].at - open_file);
    if (first > last || (last - first) / units_.bytes >= kMaxCutsPerChunk) return false;
    const uint64_t in_place = open.source_offset + (heads_[k].at - open_file);
    const uint64_t phase = in_place - (units_.BoundaryFrom(in_place + 1) - units_.bytes);
    const uint64_t reach = kReachUnits * units_.bytes;
    const std::vector<uint64_t> hits = HeadersAtPhase(
        heads_[k].id, heads_[k].size, phase, units_.BoundaryFrom(first > reach ? first - reach : 0),
        std::min(source_.Size(), last + reach + units_.bytes));
    std::vector<Trial> trials;
    size_t most = 0;
    for (uint64_t cut = first; cut <= last; cut += units_.bytes) {
      const uint64_t into = heads_[k].at - (open_file + (cut - open.source_offset));
      UnitCandidates candidates(units_, cut, kReachUnits, source_.Size(), pieces_);
      for (uint64_t next = 0; candidates.Next(&next);) {
        if (!std::binary_search(hits.begin(), hits.end(), next + into)) continue;
        if (reads_ > kMaxHeaderReads) return false;
        Trial trial{GoingOnAt(pieces_, cut, next, source_.Size() - next), 0};
        if (k == 0 && !HeaderLeadsToMovie(trial.pieces)) continue;
        while (k + trial.held < heads_.size() &&
               (trial.held == 0 || heads_[k + trial.held].at < horizon) &&
               HeadAt(trial.pieces, k + trial.held)) {
          ++trial.held;
        }
        if (trial.held < most || trial.held == 0) continue;
        if (trial.held > most) trials.clear();
        most = trial.held;
        if (trials.size() == kMaxTiedTrials) return false;
        trials.push_back(std::move(trial));
      }
    }
    if (trials.size() > 1) KeepMpeg4Frames(k, open_file + (first - open.source_offset), trials);
    if (trials.size() != 1) return false;
    pieces_ = std::move(trials.front().pieces);
    return true;
  }

  // Whether the header's chunks, read through `pieces`, follow each other by their sizes (and
  // those of each list inside it, to its end) from the RIFF header up to the movie list.
  bool HeaderLeadsToMovie(const std::vector<FilePiece>& pieces) {
    PieceSource file(source_, pieces);
    uint32_t chunks = 0;
    return ChunksFollow(file, kRiffHeadBytes, movi_, 0, &chunks);
  }

  // Whether the chunks from `at` end at `end` (the movie list's header, at the top level) or, in
  // a list, at its end.
  bool ChunksFollow(PieceSource& file, uint64_t at, uint64_t end, int depth, uint32_t* chunks) {
    while (at < end) {
      uint8_t h[12];
      if (++*chunks > kMaxHeaderChunks || end - at < kHeadBytes ||
          !file.ReadExact(at, h, sizeof h) || !IsRiffChunkId(h)) {
        return false;
      }
      const uint64_t size = LoadLe32(h + 4);
      if (size > end - at - kHeadBytes) return false;
      if (IsCode(h, "LIST") && size >= 4 &&
          (depth == kMaxHeaderDepth ||
           !ChunksFollow(file, at + kRiffHeadBytes, at + kHeadBytes + size, depth + 1, chunks))) {
        return false;
      }
      at += kHeadBytes + size + (size & 1);
    }
    return depth > 0 || at == end;
  }

  // Whether the chunk at `head` is an MPEG-4 Visual frame, by its first bytes.
  bool IsMpeg4Frame(const ChunkHead& head) {
    uint8_t code[4];
    PieceSource file(source_, pieces_);
    return IsVideoChunk(head.id) && head.size >= sizeof code &&
           file.ReadExact(head.at + kHeadBytes, code, sizeof code) && StartsMpeg4Frame(code);
  }

  struct Trial {
    std::vector<FilePiece> pieces;
    size_t held = 0;  // headers that hold from the cut one on
  };

  // Keeps the trials whose units inside the MPEG-4 frame before the `k`th header (from the file's
  // unit boundary `boundary` on) all read as the frame's bits: a unit of random bytes or text
  // there is foreign. Frames of other coders are not judged.
  void KeepMpeg4Frames(size_t k, uint64_t boundary, std::vector<Trial>& trials) {
    if (k == 0 || !IsMpeg4Frame(heads_[k - 1])) return;
    const uint64_t data = heads_[k - 1].at + kHeadBytes;
    const uint64_t end = data + heads_[k - 1].size;
    while (boundary >= data + units_.bytes) boundary -= units_.bytes;
    std::erase_if(trials, [&](const Trial& trial) {
      PieceSource file(source_, trial.pieces);
      std::vector<uint8_t> unit(static_cast<size_t>(units_.bytes));
      for (uint64_t at = boundary; at + units_.bytes <= end; at += units_.bytes) {
        if (!file.ReadExact(at, unit.data(), unit.size()) ||
            !LooksLikeMpeg4Frame(unit.data(), unit.size())) {
          return true;
        }
      }
      return false;
    });
  }

  ByteSource& source_;
  uint64_t start_;
  ByteUnits units_;
  uint64_t file_size_ = 0;
  uint64_t movi_ = 0;  // file offset of the movie list's header
  uint32_t movi_size_ = 0;
  uint64_t index_at_ = 0;  // and of the idx1 header, at the movie list's end
  uint64_t index_size_ = 0;
  std::vector<uint8_t> index_;           // the idx1 entries
  std::vector<FilePiece> index_pieces_;  // of the idx1 chunk, from its header on
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
