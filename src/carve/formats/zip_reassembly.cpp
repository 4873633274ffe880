#include "carve/formats/zip_reassembly.h"

#include <algorithm>
#include <optional>

#include "carve/formats/zip_check.h"
#include "platform/byte_order.h"

namespace kestrel {
namespace {

constexpr uint32_t kLocalSignature = 0x04034B50;
constexpr uint32_t kEndSignature = 0x06054B50;
constexpr size_t kEndBytes = 22;
constexpr size_t kLocalBytes = 30;
constexpr size_t kMaxGaps = 16;
constexpr uint64_t kMaxStartsPerGap = 1024;
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
    total_gap_ = directory_at - end->directory_offset;
    if (total_gap_ % units_.bytes != 0) return false;
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
    for (size_t k = 1; k < members.size(); ++k) {
      if (!Follow(members[k - 1], members[k].local,
                  [&](uint64_t at) { return LocalHeaderAt(at, members[k]); })) {
        return false;
      }
    }
    // The central directory closes the walk: it lies where the gaps put it.
    const uint64_t directory_source = start_ + directory_at;
    if (!Follow(members.back(), directory_offset_,
                [&](uint64_t at) { return at == directory_source; })) {
      return false;
    }
    if (shift_ != total_gap_) return false;
    *pieces = Pieces();
    return true;
  }

 private:
  struct Gap {
    uint64_t at = 0, length = 0;  // source offset of the first foreign byte, and its length
  };

  // The member after `previous`, whose archive offset is `offset`, is found where `found_at`
  // says, at its offset moved by the gaps so far or by one more gap; true when it is.
  template <typename FoundAt>
  bool Follow(const ZipMember& previous, uint64_t offset, FoundAt found_at) {
    const uint64_t expected = start_ + offset + shift_;
    if (found_at(expected)) return true;
    if (gaps_.size() == kMaxGaps) return false;
    for (uint64_t gap = units_.bytes; shift_ + gap <= total_gap_; gap += units_.bytes) {
      if (found_at(expected + gap)) return CutGapBefore(previous, expected, gap);
    }
    return false;
  }

  // Finds where a gap of `length` bytes starts between the previous member's local header and
  // `expected`: the unit boundary whose cut leaves that member whole.
  bool CutGapBefore(const ZipMember& previous, uint64_t expected, uint64_t length) {
    const uint64_t header_end =
        start_ + previous.local + shift_ + kLocalBytes + previous.name.size();
    uint64_t tried = 0;
    for (uint64_t at = units_.BoundaryFrom(header_end); at <= expected; at += units_.bytes) {
      if (++tried > kMaxStartsPerGap || unpack_budget_ < previous.packed) return false;
      unpack_budget_ -= previous.packed;
      gaps_.push_back({at, length});
      const std::vector<FilePiece> trial = Pieces();
      PieceSource file(source_, trial);
      if (ZipMemberWhole(file, 0, file.Size(), previous, directory_offset_)) {
        shift_ += length;
        return true;
      }
      gaps_.pop_back();
    }
    return false;
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

  // The carved bytes without the gaps found so far.
  std::vector<FilePiece> Pieces() const {
    std::vector<FilePiece> pieces;
    uint64_t at = start_;
    for (const Gap& gap : gaps_) {
      if (gap.at > at) pieces.push_back({at, gap.at - at});
      at = gap.at + gap.length;
    }
    if (start_ + length_ > at) pieces.push_back({at, start_ + length_ - at});
    return pieces;
  }

  ByteSource& source_;
  uint64_t start_, length_;
  ByteUnits units_;
  uint64_t unpack_budget_;
  uint64_t total_gap_ = 0, directory_offset_ = 0, shift_ = 0;
  std::vector<Gap> gaps_;
  std::vector<uint8_t> header_;
};

}  // namespace

bool ReassembleZip(ByteSource& source, uint64_t start, uint64_t length, const ByteUnits& units,
                   std::vector<FilePiece>* pieces) {
  if (units.bytes == 0) return false;
  return ZipReassembly(source, start, length, units).Run(pieces);
}

}  // namespace kestrel
