#include "carve/formats/asf_reassembly.h"

#include <algorithm>
#include <optional>

#include "carve/formats/asf_check.h"
#include "carve/formats/asf_layout.h"
#include "carve/formats/offset_reassembly.h"
#include "carve/unique_best.h"
#include "carve/unit_candidates.h"
#include "platform/byte_order.h"

namespace kestrel {
namespace {

using namespace asf;

constexpr uint64_t kMaxGapBytes = uint64_t{64} << 20;
constexpr uint32_t kMaxHeaderObjects = 4096;
constexpr uint64_t kMaxPackets = 4'000'000;

// What the header says of the data packets and the file.
struct Layout {
  uint64_t file_size = 0;
  uint64_t packets = 0;
  uint32_t packet_size = 0;
  uint64_t first_packet = 0;  // file offset
};

std::optional<Layout> ReadLayout(ByteSource& source, uint64_t start, uint64_t length) {
  uint8_t header[kHeaderObjectBytes];
  if (length < kHeaderObjectBytes || !source.ReadExact(start, header, sizeof header) ||
      !IsGuid(header, kHeaderGuid)) {
    return std::nullopt;
  }
  const uint64_t header_size = LoadLe64(header + 16);
  if (header_size < kHeaderObjectBytes || header_size > length) return std::nullopt;
  Layout layout;
  uint64_t at = kHeaderObjectBytes;
  for (uint32_t i = 0; i < kMaxHeaderObjects && at + kObjectBytes <= header_size; ++i) {
    uint8_t object[kFilePropertiesBytes];
    if (!source.ReadExact(start + at, object, kObjectBytes)) return std::nullopt;
    const uint64_t size = LoadLe64(object + 16);
    if (size < kObjectBytes || size > header_size - at) return std::nullopt;
    if (IsGuid(object, kFilePropertiesGuid) && size >= kFilePropertiesBytes) {
      if (!source.ReadExact(start + at, object, kFilePropertiesBytes)) return std::nullopt;
      layout.file_size = LoadLe64(object + 40);
      layout.packets = LoadLe64(object + 56);
      const uint32_t min_size = LoadLe32(object + 92), max_size = LoadLe32(object + 96);
      if (min_size != max_size) return std::nullopt;
      layout.packet_size = min_size;
    }
    at += size;
  }
  uint8_t data[kDataObjectBytes];
  if (layout.packet_size == 0 || layout.packets == 0 || layout.packets > kMaxPackets ||
      !source.ReadExact(start + header_size, data, sizeof data) || !IsGuid(data, kDataGuid)) {
    return std::nullopt;
  }
  layout.first_packet = header_size + kDataObjectBytes;
  if (layout.first_packet + layout.packets * layout.packet_size > layout.file_size) {
    return std::nullopt;
  }
  return layout;
}

// Whether `at` on the source, file offset `offset` of the file that starts at `start`, lies at its
// own place in another ASF file: that many bytes after a header object that is not this file's.
// A file made alike (one packet size, media objects of the same sizes: the same pictures with
// another sound) takes a seam there as well as the true continuation, and a whole check does not
// tell them apart, since it does not look into the objects.
bool AtItsPlaceInAnother(ByteSource& source, uint64_t start, uint64_t at, uint64_t offset) {
  if (at < offset || at - offset == start) return false;
  uint8_t id[sizeof(Guid)];
  return source.ReadExact(at - offset, id, sizeof id) && IsGuid(id, kHeaderGuid);
}

// In order: each packet at its place, or whole units further on (offset_reassembly.h).
bool InOrder(ByteSource& source, uint64_t start, const Layout& layout, const ByteUnits& units,
             std::vector<FilePiece>* pieces) {
  const uint64_t room = source.Size() > start ? source.Size() - start : 0;
  const uint64_t span = std::min(room, layout.file_size + kMaxGapBytes);
  OffsetReassembly walk(source, start, span, units, span - std::min(span, layout.file_size));
  // Every packet starts as the first one does (its error correction and length type flags).
  uint8_t first[3];
  if (!source.ReadExact(start + layout.first_packet, first, sizeof first)) return false;
  uint64_t offset = 0;  // the file offset of the packet looked for
  const auto packet_at = [&](uint64_t at) {
    uint8_t bytes[3];
    return source.ReadExact(at, bytes, sizeof bytes) && std::equal(bytes, bytes + 3, first) &&
           !AtItsPlaceInAnother(source, start, at, offset);
  };
  // Past the packets, the indexes (or the file's end).
  const uint64_t data_end = layout.first_packet + layout.packets * layout.packet_size;
  const auto index_at = [&](uint64_t at) {
    if (data_end == layout.file_size) return true;
    uint8_t id[16];
    return source.ReadExact(at, id, sizeof id) && IsGuid(id, kSimpleIndexGuid);
  };
  const auto any = [](ByteSource&) { return true; };
  for (uint64_t k = 1; k <= layout.packets; ++k) {
    const uint64_t previous = layout.first_packet + (k - 1) * layout.packet_size;
    const uint64_t next = previous + layout.packet_size;
    const uint64_t after = walk.SourceOf(previous) + 1;  // the packet before is in place
    offset = next;
    const bool found =
        k < layout.packets
            ? walk.Follow(next, after, packet_at, any, OffsetReassembly::Choice::kOnly)
            : walk.Follow(next, after, index_at, any, OffsetReassembly::Choice::kOnly);
    if (!found) return false;
  }
  std::vector<FilePiece> found = walk.PiecesUpTo(layout.file_size);
  if (found.size() < 2) return false;
  *pieces = std::move(found);
  return true;
}

// Out of order: the data packets are followed from the first on. Where one does not fit, its
// fragment ended at a unit boundary inside it or inside the packet before it (whose payload
// bytes are not looked into), and the next fragment starts at the unit, within
// kReachUnits either way and not taken yet, from which the most packets then fit: a unit of
// another file breaks the media objects' sequence at once. Two units that take it equally far
// leave its place unknown. The objects after the packets end the file the same way.
class AsfFragmentWalk {
 public:
  AsfFragmentWalk(ByteSource& source, uint64_t start, const Layout& layout, const ByteUnits& units)
      : source_(source), start_(start), layout_(layout), units_(units) {
    pieces_.push_back({start, std::min(layout.file_size, source.Size() - start)});
  }

  bool Run(std::vector<FilePiece>* pieces) {
    AsfPackets fit = Fit(pieces_);
    while (fit.whole == Whole::kNo) {
      if (pieces_.size() == kMaxPieces || !NextPiece(fit.fit, &fit)) return false;
    }
    if (fit.whole != Whole::kYes || pieces_.size() < 2) return false;
    *pieces = std::move(pieces_);
    return true;
  }

 private:
  static constexpr size_t kMaxPieces = 16;
  static constexpr uint64_t kReachUnits = 256;
  static constexpr uint64_t kMaxPacketsRead = 4'000'000;
  static constexpr uint64_t kMaxCutsPerBreak = 64;

  uint64_t PacketAt(uint64_t k) const { return layout_.first_packet + k * layout_.packet_size; }

  AsfPackets Fit(const std::vector<FilePiece>& pieces) {
    PieceSource file(source_, pieces);
    const AsfPackets fit = CheckAsfPackets(file, 0, file.Size());
    packets_read_ += fit.fit + 1;
    return fit;
  }

  // The next piece after a cut inside packet `n`, the one before it (whose payload bytes are not
  // looked into), or, with every packet fitting, after them.
  bool NextPiece(uint64_t n, AsfPackets* fit) {
    const FilePiece open = pieces_.back();
    const uint64_t open_file = LastPieceFileOffset(pieces_);
    const uint64_t low = std::max(open_file, n == 0 ? 0 : PacketAt(n - 1));
    const uint64_t high = n + 1 < layout_.packets ? PacketAt(n + 1) - 1 : layout_.file_size;
    if (high < low) return false;
    // The unit from which the most packets fit, past those that fit now. The cuts end at the
    // source's end, and there are few of them: packets are shorter than a unit, and what follows
    // the last one (a file size may claim anything) is looked into for a few units only.
    UniqueBest<std::pair<std::vector<FilePiece>, AsfPackets>, uint64_t> best;
    const uint64_t last_cut = std::min(open.source_offset + (high - open_file), source_.Size());
    uint64_t cuts = 0;
    for (uint64_t cut = units_.BoundaryFrom(open.source_offset + (low - open_file) + 1);
         cut <= last_cut && ++cuts <= kMaxCutsPerBreak; cut += units_.bytes) {
      const uint64_t file_at_cut = open_file + (cut - open.source_offset);
      UnitCandidates candidates(units_, cut, kReachUnits, source_.Size(), pieces_);
      for (uint64_t next = 0; candidates.Next(&next);) {
        if (packets_read_ > kMaxPacketsRead) return false;
        if (AtItsPlaceInAnother(source_, start_, next, file_at_cut)) continue;
        std::vector<FilePiece> trial = GoingOnAt(
            pieces_, cut, next, std::min(layout_.file_size - file_at_cut, source_.Size() - next));
        const AsfPackets trial_fit = Fit(trial);
        if (trial_fit.whole == Whole::kYes) {
          pieces_ = std::move(trial);
          *fit = trial_fit;
          return true;
        }
        if (trial_fit.fit > fit->fit) best.Offer({std::move(trial), trial_fit}, trial_fit.fit);
      }
    }
    if (!best.Unique()) return false;
    pieces_ = std::move(best.best().first);
    *fit = best.best().second;
    return true;
  }

  ByteSource& source_;
  uint64_t start_;
  Layout layout_;
  ByteUnits units_;
  std::vector<FilePiece> pieces_;  // the last one runs on to the file's stated size
  uint64_t packets_read_ = 0;
};

}  // namespace

bool ReassembleAsf(ByteSource& source, uint64_t start, uint64_t length, const ByteUnits& units,
                   std::vector<FilePiece>* pieces) {
  if (units.bytes == 0) return false;
  const std::optional<Layout> layout = ReadLayout(source, start, length);
  if (!layout || layout->packet_size >= units.bytes) return false;
  // The packets' places alone can be taken by another file made alike (its packets lie where
  // this file's would): the walk, which follows the media objects, gets its turn when the pieces
  // found in order are not whole.
  std::vector<FilePiece> in_order;
  if (InOrder(source, start, *layout, units, &in_order)) {
    PieceSource file(source, in_order);
    if (CheckAsf(file, 0, file.Size()) == Whole::kYes) {
      *pieces = std::move(in_order);
      return true;
    }
  }
  return AsfFragmentWalk(source, start, *layout, units).Run(pieces);
}

}  // namespace kestrel
