#include "carve/formats/zip_reassembly.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "carve/formats/offset_reassembly.h"
#include "carve/formats/zip_check.h"
#include "carve/formats/zip_fragment_walk.h"
#include "carve/formats/zip_layout.h"
#include "platform/byte_order.h"

namespace kestrel {
namespace {

using namespace zip;

constexpr uint64_t kMinUnpackBudget = uint64_t{256} << 20;

// The end record that closes the carved bytes, as its fields give the central directory.
struct EndRecord {
  uint64_t at = 0;  // file offset of the record
  uint64_t directory_size = 0, directory_offset = 0, entries = 0;
};

std::optional<EndRecord> FindEnd(ByteSource& source, uint64_t start, uint64_t length) {
  if (length < kEndBytes) return std::nullopt;
  const size_t tail = static_cast<size_t>(std::min<uint64_t>(length, kEndBytes + 0xFFFF));
  std::vector<uint8_t> bytes(tail);
  if (!source.ReadExact(start + length - tail, bytes.data(), tail)) return std::nullopt;
  for (size_t i = tail - kEndBytes + 1; i-- > 0;) {
    const uint8_t* r = &bytes[i];
    if (LoadLe32(r) != kEndSignature || i + kEndBytes + LoadLe16(r + 20) != tail) continue;
    const uint16_t entries = LoadLe16(r + 10);
    // One disk, and no ZIP64 records standing in for the fields.
    if (LoadLe16(r + 4) != 0 || LoadLe16(r + 6) != 0 || LoadLe16(r + 8) != entries ||
        entries == 0xFFFF || LoadLe32(r + 12) == 0xFFFFFFFF || LoadLe32(r + 16) == 0xFFFFFFFF) {
      return std::nullopt;
    }
    return EndRecord{length - tail + i, LoadLe32(r + 12), LoadLe32(r + 16), entries};
  }
  return std::nullopt;
}

class ZipReassembly {
 public:
  ZipReassembly(ByteSource& source, uint64_t start, uint64_t length, const ByteUnits& units)
      : source_(source),
        start_(start),
        length_(length),
        units_(units),
        unpack_budget_(std::max(kMinUnpackBudget, length * 8)) {}

  bool Run(std::vector<FilePiece>* pieces) {
    const std::optional<EndRecord> end = FindEnd(source_, start_, length_);
    if (!end || end->directory_size > end->at) return false;
    const uint64_t directory_at = end->at - end->directory_size;  // where it really lies
    if (directory_at <= end->directory_offset) return false;      // nothing was put in
    const uint64_t total_gap = directory_at - end->directory_offset;
    if (total_gap % units_.bytes != 0) return false;
    directory_offset_ = end->directory_offset;
    std::vector<ZipMember> members;
    if (!ReadZipDirectory(source_, start_, length_, directory_at, end->directory_size, end->entries,
                          &members) ||
        members.empty()) {
      return false;
    }
    std::sort(members.begin(), members.end(),
              [](const ZipMember& a, const ZipMember& b) { return a.local < b.local; });
    if (members[0].local != 0 || !LocalHeaderAt(start_, members[0])) return false;
    OffsetReassembly walk(source_, start_, length_, units_, total_gap);
    for (size_t k = 1; k <= members.size(); ++k) {
      const ZipMember& previous = members[k - 1];
      const uint64_t after = walk.SourceOf(previous.local) + kLocalBytes + previous.name.size();
      const auto whole = [&](ByteSource& file) { return MemberWhole(file, previous); };
      const auto stops = [&](ByteSource& file) { return InflatesUpTo(file, previous); };
      // The central directory closes the walk: it lies where the gaps put it.
      const uint64_t next = k < members.size() ? members[k].local : directory_offset_;
      const auto found_at = [&](uint64_t at) {
        return k < members.size() ? LocalHeaderAt(at, members[k]) : at == start_ + directory_at;
      };
      if (!walk.Follow(next, after, found_at, whole) &&
          !walk.FollowTwoCuts(next, after, found_at, whole, stops, previous.method == kDeflated) &&
          !FollowStoredArchive(walk, previous, next, found_at, whole)) {
        return false;
      }
    }
    if (!walk.AllGapsFound()) return false;
    *pieces = walk.Pieces();
    return true;
  }

 private:
  bool MemberWhole(ByteSource& file, const ZipMember& member) {
    if (unpack_budget_ < member.packed) return false;
    unpack_budget_ -= member.packed;
    return ZipMemberWhole(file, 0, file.Size(), member, directory_offset_);
  }

  // Where the member's deflate data stops inflating: where foreign bytes inside it start, about.
  // The data read up to where it breaks counts against the budget (most first cuts break soon).
  uint64_t InflatesUpTo(ByteSource& file, const ZipMember& member) {
    const uint64_t end = ZipMemberDataEnd(file, member);
    if (member.method != kDeflated || unpack_budget_ == 0 || end < member.packed) return end;
    const uint64_t stop = ZipMemberInflatesTo(file, member);
    unpack_budget_ -= std::min({unpack_budget_, member.packed, stop - (end - member.packed)});
    return stop;
  }

  // A stored member that is an archive itself (a ZIP kept in a ZIP) has the gaps inside it placed
  // by its own central directory, when all the gaps left lie inside it: it is put together as an
  // archive, once (not the archives stored in it), and must then check whole by its CRC-32.
  template <typename FoundAt, typename Whole>
  bool FollowStoredArchive(OffsetReassembly& walk, const ZipMember& member, uint64_t next,
                           FoundAt found_at, Whole whole) {
    if (nested_ || member.method != kStored || member.packed < kEndBytes) return false;
    const uint64_t end = walk.SourceOf(next) + walk.GapLeft();
    const uint64_t header = walk.SourceOf(member.local);
    if (!LocalHeaderAt(header, member) || !found_at(end)) return false;
    const uint64_t data = header + kLocalBytes + member.name.size() + LoadLe16(&header_[28]);
    uint8_t signature[4];
    if (data >= end || member.local + (data - header) + member.packed != next ||
        !source_.ReadExact(data, signature, sizeof signature) ||
        LoadLe32(signature) != kLocalSignature) {
      return false;
    }
    ZipReassembly inner(source_, data, end - data, units_);
    inner.nested_ = true;
    inner.unpack_budget_ = unpack_budget_;
    std::vector<FilePiece> pieces;
    const bool found = inner.Run(&pieces);
    unpack_budget_ = inner.unpack_budget_;
    if (!found || !walk.TakeGapsBetween(pieces)) return false;
    const std::vector<FilePiece> trial = walk.Pieces();
    PieceSource file(source_, trial);
    return whole(static_cast<ByteSource&>(file));
  }

  bool LocalHeaderAt(uint64_t at, const ZipMember& member) {
    const size_t n = kLocalBytes + member.name.size();
    if (at < start_ || at - start_ > length_ || n > length_ - (at - start_)) return false;
    header_.resize(n);
    if (!source_.ReadExact(at, header_.data(), n)) return false;
    return LoadLe32(header_.data()) == kLocalSignature &&
           LoadLe16(&header_[26]) == member.name.size() &&
           std::equal(member.name.begin(), member.name.end(), header_.begin() + kLocalBytes);
  }

  ByteSource& source_;
  uint64_t start_, length_;
  ByteUnits units_;
  uint64_t unpack_budget_;
  uint64_t directory_offset_ = 0;
  bool nested_ = false;  // an archive stored in the one put together
  std::vector<uint8_t> header_;
};

}  // namespace

bool ReassembleZip(ByteSource& source, uint64_t start, uint64_t length, const ByteUnits& units,
                   std::vector<FilePiece>* pieces) {
  if (units.bytes == 0) return false;
  return ZipReassembly(source, start, length, units).Run(pieces) ||
         WalkZipFragments(source, start, units, pieces);
}

}  // namespace kestrel
