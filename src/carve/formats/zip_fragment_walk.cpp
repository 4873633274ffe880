#include "carve/formats/zip_fragment_walk.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "carve/formats/zip_check.h"
#include "carve/formats/zip_layout.h"
#include "carve/unit_candidates.h"
#include "platform/byte_order.h"

namespace kestrel {
namespace {

using namespace zip;

constexpr size_t kMaxPieces = 16;
constexpr uint64_t kReachUnits = 64;
// A cut inside stored blocks looks further: a unit is tried only when the header that broke holds
// read from it, which one small read tells.
constexpr uint64_t kStoredReachUnits = 256;
constexpr uint32_t kMaxStoredProbes = 65'536;
constexpr uint64_t kMaxBoundaries = 64;
constexpr uint32_t kMaxTrials = 4096;
constexpr uint32_t kMaxChecks = 64;  // trials past the quick tests, whose record is read whole
constexpr uint64_t kCheckBudget = uint64_t{64} << 20;
constexpr uint32_t kMaxRecords = 200'000;
// A stored deflate block: a header byte (final bit, type 00), LEN and its complement.
constexpr uint64_t kStoredHeaderBytes = 5;
constexpr uint32_t kMaxStoredBlocks = 4096;
// Arrangements of a member's cuts inside stored blocks tried against its CRC-32, at most.
constexpr uint64_t kMaxSlides = 256;

enum class RecordKind : uint8_t {
  kNone,         // no record holds here
  kUnsupported,  // a record the walk cannot follow: it ends
  kMember,
  kEntry,
  kEnd,
  kGoesOn,  // a member's data goes on across the cut and is cut again further on
};

struct Record {
  RecordKind kind = RecordKind::kNone;
  uint64_t end = 0;  // file offset just past it
  uint32_t crc = 0;  // a member's
};

struct Member {
  uint64_t local = 0;
  uint32_t crc = 0;
  bool listed = false;  // a directory entry named it
};

using Layout = std::vector<FilePiece>;

// Where a deflated member's stored blocks stop holding, hopped header to header from its data's
// start (deflate writes incompressible data as stored blocks, whose bytes it never checks: a cut
// inside one shows only at the next block's header).
struct StoredHop {
  bool stored = false;  // the data starts with a stored block
  bool whole = false;   // the blocks hold up to the final one, which ends with the data
  uint64_t broken = 0;  // file offset of the first header that does not hold
  uint64_t from = 0;    // where the data of the block before it starts: the cut lies past it
};

StoredHop HopStoredBlocks(ByteSource& file, uint64_t data, uint64_t end) {
  StoredHop hop;
  uint64_t from = data;
  uint64_t at = data;
  for (uint32_t n = 0; n < kMaxStoredBlocks; ++n) {
    uint8_t h[kStoredHeaderBytes];
    const bool holds = at + kStoredHeaderBytes <= end && file.ReadExact(at, h, sizeof h) &&
                       (h[0] & 0x06) == 0 && (LoadLe16(h + 1) ^ LoadLe16(h + 3)) == 0xFFFF &&
                       at + kStoredHeaderBytes + LoadLe16(h + 1) <= end;
    const bool final = holds && (h[0] & 1) != 0;
    const uint64_t next = at + kStoredHeaderBytes + (holds ? LoadLe16(h + 1) : 0);
    if (!holds || (final && next != end)) {
      hop.broken = at;
      hop.from = from;
      return hop;
    }
    hop.stored = true;
    if (final) {
      hop.whole = true;
      return hop;
    }
    from = at + kStoredHeaderBytes;
    at = next;
  }
  return StoredHop{};  // too many blocks to follow
}

// The file offset just past piece `piece` of `layout`.
uint64_t FileEndOf(const Layout& layout, size_t piece) {
  uint64_t end = 0;
  for (size_t i = 0; i <= piece; ++i) end += layout[i].length;
  return end;
}

// A cut the walk took inside a member's stored block: it may lie at any unit boundary of the
// block's data (file offsets [from, to]), the unit it goes on at moved along with it.
struct SlidingCut {
  size_t piece = 0;  // the piece the cut ends
  uint64_t from = 0, to = 0;
};

class FragmentWalk {
 public:
  FragmentWalk(ByteSource& source, uint64_t start, const ByteUnits& units)
      : source_(source), units_(units) {
    layout_.push_back({start, source.Size() - start});
  }

  bool Run(std::vector<FilePiece>* pieces) {
    uint64_t at = 0;
    for (uint32_t n = 0; n < kMaxRecords; ++n) {
      Record record = RecordAt(layout_, at);
      if (record.kind == RecordKind::kNone) record = StoredArchiveAt(at);
      if (record.kind == RecordKind::kNone) record = Continue(at);
      switch (record.kind) {
        case RecordKind::kGoesOn:
          continue;  // the same record, read on across its next cut
        case RecordKind::kNone:
        case RecordKind::kUnsupported:
          return false;
        case RecordKind::kMember:
          members_.push_back({at, record.crc});
          break;
        case RecordKind::kEntry:
          if (entries_ == 0) directory_ = at;
          ++entries_;
          entry_at_ = at;
          break;
        case RecordKind::kEnd:
          layout_.back().length = SourceOf(record.end) - layout_.back().source_offset;
          *pieces = std::move(layout_);
          return true;
      }
      at = record.end;
    }
    return false;
  }

 private:
  // File offset of the open (last) piece's first byte.
  uint64_t OpenFileOffset() const { return LastPieceFileOffset(layout_); }
  uint64_t SourceOf(uint64_t file_offset) const {
    return layout_.back().source_offset + (file_offset - OpenFileOffset());
  }

  Record RecordAt(const Layout& layout, uint64_t at) {
    PieceSource file(source_, layout);
    uint8_t signature[4];
    if (!file.ReadExact(at, signature, sizeof signature)) return {};
    switch (LoadLe32(signature)) {
      case kLocalSignature:
        return entries_ == 0 ? MemberAt(file, at) : Record{};
      case kCentralSignature:
        return EntryAt(file, at);
      case kEndSignature:
        return EndAt(file, at);
      default:
        return {};
    }
  }

  // A stored member that is an archive itself (a ZIP kept in a ZIP) is laid out by that
  // archive's own records, followed across their cuts from its start (once: not the archives
  // stored in it); it is taken when its CRC-32 holds read so.
  Record StoredArchiveAt(uint64_t at) {
    if (nested_ || entries_ != 0) return {};
    PieceSource file(source_, layout_);
    uint8_t h[kLocalBytes], signature[4];
    if (!file.ReadExact(at, h, sizeof h) || LoadLe32(h) != kLocalSignature ||
        LoadLe16(h + 8) != kStored) {
      return {};
    }
    const uint64_t data = at + kLocalBytes + LoadLe16(h + 26) + LoadLe16(h + 28);
    if (data < OpenFileOffset() || !file.ReadExact(data, signature, sizeof signature) ||
        LoadLe32(signature) != kLocalSignature) {
      return {};
    }
    FragmentWalk inner(source_, SourceOf(data), units_);
    inner.nested_ = true;
    inner.budget_ = budget_;
    inner.trials_ = trials_;
    inner.checks_ = checks_;
    inner.stored_probes_ = stored_probes_;
    std::vector<FilePiece> pieces;
    const bool found = inner.Run(&pieces);
    budget_ = inner.budget_;
    trials_ = inner.trials_;
    checks_ = inner.checks_;
    stored_probes_ = inner.stored_probes_;
    if (!found) return {};
    // The open piece up to the member's data, then the inner archive's pieces, the last running
    // on to the source's end.
    Layout trial(layout_.begin(), layout_.end() - 1);
    trial.push_back({layout_.back().source_offset, SourceOf(data) - layout_.back().source_offset});
    for (const FilePiece& piece : pieces) AppendPiece(trial, piece.source_offset, piece.length);
    trial.back().length = source_.Size() - trial.back().source_offset;
    if (trial.size() > kMaxPieces) return {};
    PieceSource whole(source_, trial);
    const Record record = MemberAt(whole, at);
    if (record.kind != RecordKind::kMember) return {};
    layout_ = std::move(trial);
    return record;
  }

  // A local header and its data, which must unpack to the header's size and CRC-32.
  Record MemberAt(ByteSource& file, uint64_t at) {
    uint8_t h[kLocalBytes];
    if (!file.ReadExact(at, h, sizeof h)) return {};
    ZipMember m = ZipLocalHeaderFields(h, at);
    const size_t name = LoadLe16(h + 26), extra = LoadLe16(h + 28);
    if ((m.flags & (kEncrypted | kHasDescriptor)) != 0 ||
        (m.method != kStored && m.method != kDeflated) || m.packed == kSaturated32 ||
        m.size == kSaturated32 || m.packed > budget_) {
      return {RecordKind::kUnsupported};
    }
    m.name.resize(name);
    if (name == 0 || !file.ReadExact(at + kLocalBytes, m.name.data(), name)) return {};
    const uint64_t end = at + kLocalBytes + name + extra + m.packed;
    budget_ -= m.packed;
    if (!ZipMemberWhole(file, 0, file.Size(), m, end)) return {};
    return {RecordKind::kMember, end, m.crc};
  }

  // A central directory entry that names a member the walk found, by its offset and CRC-32.
  Record EntryAt(ByteSource& file, uint64_t at) {
    uint8_t h[kCentralBytes];
    if (members_.empty() || !file.ReadExact(at, h, sizeof h)) return {};
    const uint64_t local = LoadLe32(h + 42);
    const auto member =
        std::lower_bound(members_.begin(), members_.end(), local,
                         [](const Member& m, uint64_t offset) { return m.local < offset; });
    if (member == members_.end() || member->local != local || member->listed ||
        member->crc != LoadLe32(h + 16)) {
      return {};
    }
    member->listed = true;
    return {RecordKind::kEntry,
            at + kCentralBytes + LoadLe16(h + 28) + LoadLe16(h + 30) + LoadLe16(h + 32)};
  }

  // The end record: it counts every member and gives the directory's place and size.
  Record EndAt(ByteSource& file, uint64_t at) {
    uint8_t r[kEndBytes];
    if (entries_ == 0 || entries_ != members_.size() || !file.ReadExact(at, r, sizeof r)) {
      return {};
    }
    if (LoadLe16(r + 8) != entries_ || LoadLe16(r + 10) != entries_ ||
        LoadLe32(r + 12) != at - directory_ || LoadLe32(r + 16) != directory_) {
      return {};
    }
    const uint64_t end = at + kEndBytes + LoadLe16(r + 20);
    return end <= file.Size() ? Record{RecordKind::kEnd, end} : Record{};
  }

  // The record at `at` read across a cut: the open piece ends at a unit boundary inside it (or
  // at its start, or inside the directory entry before it, whose name the walk does not check),
  // and the file goes on at the start of another unit. The layout takes the first cut and unit
  // with which the record holds. When no unit makes it hold at a cut, a deflated member may be
  // cut twice: the unit through whose first bytes its data inflates furthest is taken (kGoesOn),
  // and the member is read on from there.
  Record Continue(uint64_t at) {
    if (layout_.size() >= kMaxPieces) return {};
    const uint64_t open = layout_.back().source_offset;
    const uint64_t open_file = OpenFileOffset();
    const uint64_t here = at >= open_file ? SourceOf(at) : open;
    const uint64_t from = entries_ != 0 && entry_at_ >= open_file ? SourceOf(entry_at_) : here;
    const uint64_t span = std::max<uint64_t>(SpanAt(at), 4);
    // A member cut twice goes on elsewhere only from the last cut before where its data stops
    // inflating as the pieces read now, and only when no cut makes it hold.
    const uint64_t breaks_at = BreakAt(at);
    // Stored blocks break at the header after the cut: the cut lies in the block before it.
    const std::optional<SlidingCut> stored = StoredBreakAt(at, breaks_at);
    const uint64_t stored_from =
        stored && stored->from > open_file ? open + (stored->from - open_file) : 0;
    const uint64_t last_cut = stored ? stored->to : breaks_at;
    std::optional<Layout> goes_on;
    uint64_t furthest = 0;
    uint64_t cut = units_.BoundaryFrom(std::max({from, open + 1, stored_from}));
    for (uint64_t n = 0; n < kMaxBoundaries && cut < here + span; ++n, cut += units_.bytes) {
      const uint64_t cut_file = open_file + (cut - open);
      // Deflate data inflates cleanly up to the cut: the cut lies before where it breaks.
      if (last_cut != 0 && cut_file > last_cut) break;
      const bool may_go_on = stored
                                 ? cut_file >= stored->from
                                 : breaks_at >= cut_file && breaks_at < cut_file + 2 * units_.bytes;
      const uint64_t member_end = MemberEndPast(at, cut_file);
      if (member_end != 0) ReadProbes(cut, member_end - cut_file);
      UnitCandidates candidates(units_, cut, stored ? kStoredReachUnits : kReachUnits,
                                source_.Size(), layout_);
      for (uint64_t next = 0; candidates.Next(&next);) {
        if (stored && !StoredHeaderAt(next + (stored->to - cut_file))) {
          if (++stored_probes_ > kMaxStoredProbes) return {};
          continue;
        }
        if (++trials_ > kMaxTrials) return {};
        // A member whose header lies before the cut ends where a record must start.
        if (member_end != 0 && !may_go_on && !RecordStartsAt(next + (member_end - cut_file))) {
          continue;
        }
        Layout trial = GoingOnAt(layout_, cut, next, source_.Size() - next);
        uint64_t reach = 0;
        Record record = AcrossCut(trial, at, may_go_on ? &reach : nullptr, stored.has_value());
        if (record.kind == RecordKind::kNone && (stored || !sliding_.empty())) {
          record = SlideStoredCuts(trial, at, stored, cut_file);
        }
        if (record.kind != RecordKind::kNone) {
          if (record.kind == RecordKind::kMember) sliding_.clear();
          layout_ = std::move(trial);
          return record;
        }
        // The unit must take the data a whole unit past the cut (past the header that broke, in
        // stored blocks), at least; a unit of one byte value (zeros, erased flash) inflates on in
        // a Huffman block but holds no data.
        const uint64_t least = stored ? stored->to + 1 : cut_file + units_.bytes;
        if (may_go_on && reach >= std::max(furthest, least) && !UniformUnit(next)) {
          furthest = reach + 1;
          goes_on = std::move(trial);
        }
      }
    }
    if (!goes_on) return {};
    layout_ = std::move(*goes_on);
    if (stored) sliding_.push_back({layout_.size() - 2, stored->from, stored->to});
    return {RecordKind::kGoesOn};
  }

  // The stored block inside which the member at `at` was cut, as the pieces read now, when its
  // data is stored blocks that break where inflating it breaks (`breaks_at`, 0 when it does not).
  std::optional<SlidingCut> StoredBreakAt(uint64_t at, uint64_t breaks_at) {
    if (breaks_at == 0) return std::nullopt;
    PieceSource file(source_, layout_);
    uint64_t data = 0, end = 0;
    if (!DeflatedDataAt(file, at, &data, &end)) return std::nullopt;
    const StoredHop hop = HopStoredBlocks(file, data, end);
    if (!hop.stored || hop.whole || hop.broken > breaks_at) return std::nullopt;
    return SlidingCut{0, hop.from, hop.broken};
  }

  // Where the deflated member at `at` has its data, as `layout` reads.
  bool DeflatedDataAt(ByteSource& file, uint64_t at, uint64_t* data, uint64_t* end) {
    uint8_t h[kLocalBytes];
    if (!file.ReadExact(at, h, sizeof h) || LoadLe32(h) != kLocalSignature ||
        LoadLe16(h + 8) != kDeflated) {
      return false;
    }
    *data = at + kLocalBytes + LoadLe16(h + 26) + LoadLe16(h + 28);
    *end = *data + LoadLe32(h + 18);
    return true;
  }

  // The member at `at`, whose stored-block cuts the walk placed at the first unit boundary that
  // lets its blocks' headers hold, with each cut (and the last one, at `cut_file`, when `stored`)
  // moved to every other boundary inside its block: its CRC-32 tells which is right, and it is
  // taken only when exactly one arrangement holds.
  Record SlideStoredCuts(Layout& trial, uint64_t at, const std::optional<SlidingCut>& stored,
                         uint64_t cut_file) {
    std::vector<SlidingCut> cuts = sliding_;
    if (stored && cut_file >= stored->from && cut_file <= stored->to) {
      cuts.push_back({trial.size() - 2, stored->from, stored->to});
    }
    if (cuts.empty() || !EndsBeforeRecord(trial, at)) return {};
    // Each cut's shifts, in whole units, that keep it inside its block.
    std::vector<std::pair<int64_t, int64_t>> shifts;
    uint64_t arrangements = 1;
    for (const SlidingCut& c : cuts) {
      const uint64_t file_cut = FileEndOf(trial, c.piece);
      const int64_t down =
          static_cast<int64_t>((file_cut - std::min(file_cut, c.from)) / units_.bytes);
      const int64_t up = static_cast<int64_t>((std::max(file_cut, c.to) - file_cut) / units_.bytes);
      shifts.push_back({-down, up});
      arrangements *= static_cast<uint64_t>(down + up + 1);
      if (arrangements > kMaxSlides) return {};
    }
    std::optional<Layout> found;
    Record found_record;
    for (uint64_t k = 0; k < arrangements; ++k) {
      Layout slid = trial;
      bool fits = true;
      uint64_t rest = k;
      for (size_t i = 0; i < cuts.size() && fits; ++i) {
        const auto [lo, hi] = shifts[i];
        const uint64_t choices = static_cast<uint64_t>(hi - lo + 1);
        const int64_t shift = lo + static_cast<int64_t>(rest % choices);
        rest /= choices;
        fits = Slide(slid, cuts[i].piece, shift * static_cast<int64_t>(units_.bytes));
      }
      if (!fits) continue;
      PieceSource file(source_, slid);
      const Record record = MemberAt(file, at);
      if (record.kind != RecordKind::kMember) continue;
      if (found) return {};  // two arrangements hold: which is right is not known
      found = std::move(slid);
      found_record = record;
    }
    if (!found) return {};
    trial = std::move(*found);
    return found_record;
  }

  // Moves the cut that ends piece `piece` by `shift` bytes, the next piece's start with it.
  bool Slide(Layout& layout, size_t piece, int64_t shift) {
    FilePiece& before = layout[piece];
    FilePiece& after = layout[piece + 1];
    const auto moved = [&](uint64_t v) {
      return static_cast<uint64_t>(static_cast<int64_t>(v) + shift);
    };
    if ((shift < 0 &&
         static_cast<uint64_t>(-shift) >= std::min(before.length, after.source_offset + 1)) ||
        (shift > 0 && static_cast<uint64_t>(shift) >= after.length)) {
      return false;
    }
    before.length = moved(before.length);
    after.source_offset = moved(after.source_offset);
    after.length = static_cast<uint64_t>(static_cast<int64_t>(after.length) - shift);
    return true;
  }

  // Whether a record's signature follows the data of the member at `at` in `layout`.
  bool EndsBeforeRecord(const Layout& layout, uint64_t at) {
    PieceSource file(source_, layout);
    uint8_t h[kLocalBytes], next[4];
    if (!file.ReadExact(at, h, sizeof h) || LoadLe32(h) != kLocalSignature) return false;
    const uint64_t end = at + kLocalBytes + LoadLe16(h + 26) + LoadLe16(h + 28) + LoadLe32(h + 18);
    return file.ReadExact(end, next, sizeof next) &&
           (LoadLe32(next) == kLocalSignature || LoadLe32(next) == kCentralSignature);
  }

  // The record at `at` in `trial`, when it holds there; a member must also be followed by a
  // record's signature (a cheap test that spares unpacking it from most candidates). `reach`, when
  // given: for a deflated member that does not hold, the file offset where its data breaks.
  Record AcrossCut(const Layout& trial, uint64_t at, uint64_t* reach, bool stored) {
    PieceSource file(source_, trial);
    uint8_t h[kLocalBytes];
    if (!file.ReadExact(at, h, 4)) return {};
    if (LoadLe32(h) == kLocalSignature) {
      uint8_t next[4];
      if (!file.ReadExact(at, h, sizeof h)) return {};
      const uint64_t end =
          at + kLocalBytes + LoadLe16(h + 26) + LoadLe16(h + 28) + LoadLe32(h + 18);
      if (!file.ReadExact(end, next, sizeof next) ||
          (LoadLe32(next) != kLocalSignature && LoadLe32(next) != kCentralSignature)) {
        if (reach != nullptr) {
          *reach = stored ? StoredReach(file, at) : InflatesTo(file, at, h, XmlPartAt(file, at, h));
        }
        return {};
      }
    }
    if (++checks_ > kMaxChecks) return {};
    const Record record = RecordAt(trial, at);
    return record.kind == RecordKind::kUnsupported ? Record{} : record;
  }

  // Where the member at `at` ends, when its local header lies before `cut_file` (as the pieces
  // read now) and its data reaches past it; 0 otherwise.
  uint64_t MemberEndPast(uint64_t at, uint64_t cut_file) {
    PieceSource file(source_, layout_);
    uint8_t h[kLocalBytes];
    if (!file.ReadExact(at, h, sizeof h) || LoadLe32(h) != kLocalSignature) return 0;
    const uint64_t data = at + kLocalBytes + LoadLe16(h + 26) + LoadLe16(h + 28);
    const uint64_t end = data + LoadLe32(h + 18);
    return data <= cut_file && end >= cut_file ? end : 0;
  }

  // Reads at once the bytes at `into` past every unit the cut's candidates start at (a read for
  // each would cost a system call each).
  void ReadProbes(uint64_t cut, uint64_t into) {
    const uint64_t reach = kReachUnits * units_.bytes;
    probes_at_ = (cut > reach ? cut - reach : 0) + into;
    const uint64_t end = std::min(source_.Size(), cut + reach + into + 4);
    probes_.resize(end > probes_at_ ? static_cast<size_t>(end - probes_at_) : 0);
    if (!source_.ReadExact(probes_at_, probes_.data(), probes_.size())) probes_.clear();
  }

  // Whether a local header or a directory entry starts at byte `at` of the source.
  bool RecordStartsAt(uint64_t at) {
    uint8_t signature[4];
    if (at >= probes_at_ && at + 4 <= probes_at_ + probes_.size()) {
      std::memcpy(signature, &probes_[static_cast<size_t>(at - probes_at_)], 4);
    } else if (!source_.ReadExact(at, signature, sizeof signature)) {
      return false;
    }
    return LoadLe32(signature) == kLocalSignature || LoadLe32(signature) == kCentralSignature;
  }

  // Where the data of the deflated member whose local header `h` is at `at` breaks; 0 when it
  // inflates to its end. With `xml`, also where its text stops reading as XML.
  uint64_t InflatesTo(ByteSource& file, uint64_t at, const uint8_t* h, bool xml = false) {
    ZipMember m;
    m.method = LoadLe16(h + 8);
    m.packed = LoadLe32(h + 18);
    m.local = at;
    if (m.method != kDeflated || m.packed == kSaturated32 || m.packed > budget_) return 0;
    const uint64_t data = at + kLocalBytes + LoadLe16(h + 26) + LoadLe16(h + 28);
    const uint64_t stop = xml ? ZipMemberXmlTo(file, m) : ZipMemberInflatesTo(file, m);
    budget_ -= std::min(m.packed, stop > data ? stop - data : 0);
    return stop < data + m.packed ? stop : 0;  // only data that breaks goes on elsewhere
  }

  // Whether the member at `at` (local header `h`) is an XML part, by its name.
  bool XmlPartAt(ByteSource& file, uint64_t at, const uint8_t* h) {
    const size_t n = LoadLe16(h + 26);
    std::string name(n, '\0');
    if (n == 0 || !file.ReadExact(at + kLocalBytes, name.data(), n)) return false;
    return name.ends_with(".xml") || name.ends_with(".rels");
  }

  // Where the stored blocks of the deflated member at `at` stop holding; 0 when they hold.
  uint64_t StoredReach(ByteSource& file, uint64_t at) {
    uint64_t data = 0, end = 0;
    if (!DeflatedDataAt(file, at, &data, &end)) return 0;
    const StoredHop hop = HopStoredBlocks(file, data, end);
    return hop.whole ? 0 : hop.broken;
  }

  // Where the deflated member at `at` stops inflating as the pieces read now; 0 when the record
  // is none, or its data does not break.
  uint64_t BreakAt(uint64_t at) {
    PieceSource file(source_, layout_);
    uint8_t h[kLocalBytes];
    if (!file.ReadExact(at, h, sizeof h) || LoadLe32(h) != kLocalSignature) return 0;
    return InflatesTo(file, at, h, XmlPartAt(file, at, h));
  }

  // How far the record at `at` reaches as the open piece reads: a local header's data included.
  uint64_t SpanAt(uint64_t at) {
    PieceSource file(source_, layout_);
    uint8_t h[kLocalBytes];
    if (!file.ReadExact(at, h, sizeof h) || LoadLe32(h) != kLocalSignature) return 0;
    return kLocalBytes + LoadLe16(h + 26) + LoadLe16(h + 28) + uint64_t{LoadLe32(h + 18)};
  }

  // Whether a stored block's header starts at byte `at` of the source.
  bool StoredHeaderAt(uint64_t at) {
    uint8_t h[kStoredHeaderBytes];
    return source_.ReadExact(at, h, sizeof h) && (h[0] & 0x06) == 0 &&
           (LoadLe16(h + 1) ^ LoadLe16(h + 3)) == 0xFFFF;
  }

  // Whether the unit at `at` holds one byte value only.
  bool UniformUnit(uint64_t at) {
    std::vector<uint8_t> unit(static_cast<size_t>(std::min<uint64_t>(units_.bytes, 64 * 1024)));
    if (!source_.ReadExact(at, unit.data(), unit.size())) return true;
    return std::all_of(unit.begin(), unit.end(), [&](uint8_t b) { return b == unit[0]; });
  }

  ByteSource& source_;
  ByteUnits units_;
  Layout layout_;  // the pieces so far; the last one runs on to the source's end
  std::vector<Member> members_;
  std::vector<SlidingCut> sliding_;  // the open member's cuts inside stored blocks
  uint64_t entries_ = 0;
  uint64_t directory_ = 0;  // file offset of the first directory entry
  uint64_t entry_at_ = 0;   // file offset of the last one
  uint64_t budget_ = kCheckBudget;
  uint32_t trials_ = 0;
  uint32_t checks_ = 0;
  uint32_t stored_probes_ = 0;   // units passed over by StoredHeaderAt
  bool nested_ = false;          // an archive stored in the one followed
  std::vector<uint8_t> probes_;  // source bytes from probes_at_ on (ReadProbes)
  uint64_t probes_at_ = 0;
};

}  // namespace

bool WalkZipFragments(ByteSource& source, uint64_t start, const ByteUnits& units,
                      std::vector<FilePiece>* pieces) {
  if (units.bytes == 0 || start >= source.Size()) return false;
  return FragmentWalk(source, start, units).Run(pieces);
}

}  // namespace kestrel
