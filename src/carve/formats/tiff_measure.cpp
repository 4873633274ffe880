#include "carve/formats/tiff_measure.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

#include "platform/byte_order.h"
#include "platform/sector_size.h"
#include "run/file_types.h"

namespace kestrel {
namespace {

constexpr uint16_t kTagCompression = 259;
constexpr uint16_t kTagMake = 271;
constexpr uint16_t kTagModel = 272;
constexpr uint16_t kTagStripOffsets = 273;
constexpr uint16_t kTagStripByteCounts = 279;
constexpr uint16_t kTagSubIfds = 330;
constexpr uint16_t kTagThumbOffset = 513;
constexpr uint16_t kTagThumbLength = 514;
constexpr uint16_t kTagTileOffsets = 324;
constexpr uint16_t kTagTileByteCounts = 325;
constexpr uint16_t kTagExifIfd = 34665;
constexpr uint16_t kTagGpsIfd = 34853;
constexpr uint16_t kTagInteroperabilityIfd = 40965;
// The largest field type (IFD, an offset of a directory); a directory of other types is not a
// TIFF's.
constexpr uint16_t kLastFieldType = 13;

constexpr size_t kEntryBytes = 12;
// Strip array elements read from the source at a time.
constexpr uint64_t kStripChunk = 4096;

bool IsShortType(uint16_t type) {
  return type == 3 || type == 8;
}

// Case-insensitive comparison of at most `n` characters, ending equal where both texts end.
bool SameTextIgnoringCase(const char* text, const char* word, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const int a = std::tolower(static_cast<unsigned char>(text[i]));
    const int b = std::tolower(static_cast<unsigned char>(word[i]));
    if (a != b) return false;
    if (a == 0) return true;
  }
  return true;
}

void ClearMakerFlags(TiffState& t) {
  t.maker_nikon = t.maker_kodak = t.maker_pro_back = t.maker_sony = t.maker_pentax = false;
}

bool AnyMakerFlag(const TiffState& t) {
  return t.maker_nikon || t.maker_kodak || t.maker_pro_back || t.maker_sony || t.maker_pentax;
}

}  // namespace

uint64_t TiffValueSize(uint16_t type, uint32_t count) {
  switch (type) {
    case 3:
    case 8:
      return uint64_t{2} * count;
    case 4:
    case 9:
    case 11:
    case 13:
      return uint64_t{4} * count;
    case 5:
    case 10:
    case 12:
      return uint64_t{8} * count;
    default:
      return count;
  }
}

TiffMeasure::TiffMeasure(ByteSource& source, const TypeSet& selected, TiffState& state)
    : source_(source),
      selected_(selected),
      t_(state),
      big_(state.big_endian),
      file_start_(state.start_sector * kSectorBytes),
      file_room_(source.Size() > file_start_ ? source.Size() - file_start_ : 0) {}

bool TiffMeasure::ReadFileBytes(uint64_t offset, void* buffer, size_t length) {
  if (offset > file_room_ || length > file_room_ - offset) return false;
  return source_.ReadExact(file_start_ + offset, buffer, length);
}

bool TiffMeasure::Visit(uint64_t offset) {
  if (visited_.size() >= kMaxIfds) return false;
  return visited_.insert(offset).second;
}

TiffMeasure::Entry TiffMeasure::DecodeEntry(const uint8_t* p) const {
  return {Load16(p, big_), Load16(p + 2, big_), Load32(p + 4, big_), p + 8};
}

uint32_t TiffMeasure::InlineValue(const Entry& e) const {
  // A SHORT stored in the entry is the first half of the value field.
  return IsShortType(e.type) && e.count <= 2 ? Load16(e.field, big_) : Load32(e.field, big_);
}

bool TiffMeasure::CheckCameraMaker(const uint8_t* entry) {
  const Entry e = DecodeEntry(entry);
  const uint64_t size = TiffValueSize(e.type, e.count);
  char text[9] = {};
  const size_t n = static_cast<size_t>(std::min<uint64_t>(size, 8));
  if (size <= 4) {
    std::memcpy(text, e.field, n);
  } else if (!ReadFileBytes(Load32(e.field, big_), text, n)) {
    return false;
  }
  TiffState& t = t_;
  struct Maker {
    const char* word;
    TypeSet types;
    bool TiffState::*flag;
  };
  static constexpr Maker kMakers[] = {
      {"NIKON", TypeBit(kNef), &TiffState::maker_nikon},
      {"KODAK", TypeBit(kDcr) | TypeBit(kKdc), &TiffState::maker_kodak},
      {"SONY", TypeBit(kSrf), &TiffState::maker_sony},
      {"PENTA", TypeBit(kPef), &TiffState::maker_pentax},
  };
  for (const Maker& maker : kMakers) {
    if (!SameTextIgnoringCase(text, maker.word, 5)) continue;
    if (!selected_.Intersects(maker.types)) {
      ClearMakerFlags(t);
      return false;
    }
    t.*maker.flag = true;
    return true;
  }
  if (std::strncmp(text, "ProBack", 8) == 0 && e.count <= 8) t.maker_pro_back = true;
  return true;
}

bool TiffMeasure::AddBlocks(const Entry* offsets, const Entry& counts) {
  const uint64_t n = counts.count;
  // The budget holds for the whole file, so that many IFDs cannot each read a large array.
  if (n > kMaxStrips - blocks_) return Reject();
  blocks_ += n;
  if (offsets == nullptr) return true;  // lengths without places reach no byte
  const size_t count_width = IsShortType(counts.type) ? 2 : 4;
  const size_t offset_width = IsShortType(offsets->type) ? 2 : 4;
  const uint64_t known = std::min<uint64_t>(offsets->count, n);

  std::vector<uint8_t> count_bytes, offset_bytes;
  for (uint64_t first = 0; first < known; first += kStripChunk) {
    const uint64_t chunk = std::min(kStripChunk, known - first);
    count_bytes.assign(chunk * count_width, 0);
    offset_bytes.assign(chunk * offset_width, 0);
    if (n * count_width <= 4) {
      std::memcpy(count_bytes.data(), counts.field, count_bytes.size());
    } else if (!ReadFileBytes(Load32(counts.field, big_) + first * count_width, count_bytes.data(),
                              count_bytes.size())) {
      return Reject();
    }
    if (offsets->count * offset_width <= 4) {
      std::memcpy(offset_bytes.data(), offsets->field, offset_bytes.size());
    } else if (!ReadFileBytes(Load32(offsets->field, big_) + first * offset_width,
                              offset_bytes.data(), offset_bytes.size())) {
      return Reject();
    }
    for (uint64_t i = 0; i < chunk; ++i) {
      const uint8_t* c = count_bytes.data() + i * count_width;
      const uint8_t* o = offset_bytes.data() + i * offset_width;
      const uint64_t length = count_width == 2 ? Load16(c, big_) : Load32(c, big_);
      const uint64_t offset = offset_width == 2 ? Load16(o, big_) : Load32(o, big_);
      if (length != 0) Extend(offset + length);
    }
  }
  return true;
}

bool TiffMeasure::MeasureEntries(const uint8_t* entries, uint32_t count, int depth, bool first) {
  TiffState& t = t_;
  bool uncompressed = false;
  Entry strip_offsets, strip_counts, tile_offsets, tile_counts;
  bool have_strip_offsets = false, have_strip_counts = false;
  bool have_tile_offsets = false, have_tile_counts = false;
  uint64_t thumb_offset = 0, thumb_length = 0;

  for (uint32_t k = 0; k < count; ++k) {
    const uint8_t* raw = entries + k * kEntryBytes;
    const Entry e = DecodeEntry(raw);
    // Random bytes after a TIFF header make a directory of impossible field types.
    if (first && (e.type == 0 || e.type > kLastFieldType)) return Reject();
    // A value stored out of line is part of the file.
    const uint64_t value_size = TiffValueSize(e.type, e.count);
    if (value_size > 4) Extend(uint64_t{Load32(e.field, big_)} + value_size);
    switch (e.tag) {
      case kTagCompression: {
        const uint32_t v = InlineValue(e);
        if (v == 1 || v == 65000) uncompressed = true;
        break;
      }
      case kTagMake:
      case kTagModel:
        if (!CheckCameraMaker(raw) && !AnyMakerFlag(t) && !t.orf_name && !t.always_keep) {
          return Reject();
        }
        if (!uncompressed) ClearMakerFlags(t);
        break;
      case kTagStripOffsets:
        strip_offsets = e;
        have_strip_offsets = true;
        break;
      case kTagStripByteCounts:
        strip_counts = e;
        have_strip_counts = true;
        break;
      case kTagTileOffsets:
        tile_offsets = e;
        have_tile_offsets = true;
        break;
      case kTagTileByteCounts:
        tile_counts = e;
        have_tile_counts = true;
        break;
      case kTagSubIfds:
        WalkSubIfds(e, depth);
        break;
      case kTagExifIfd:
      case kTagGpsIfd:
      case kTagInteroperabilityIfd:
        if (depth < kMaxDepth) WalkChain(InlineValue(e), depth + 1, false);
        break;
      case kTagThumbOffset:
        thumb_offset = InlineValue(e);
        break;
      case kTagThumbLength:
        thumb_length = InlineValue(e);
        break;
      default:
        break;
    }
    if (rejected_) return false;
  }
  if (have_strip_counts &&
      !AddBlocks(have_strip_offsets ? &strip_offsets : nullptr, strip_counts)) {
    return false;
  }
  if (have_tile_counts && !AddBlocks(have_tile_offsets ? &tile_offsets : nullptr, tile_counts)) {
    return false;
  }
  if (thumb_length != 0) Extend(thumb_offset + thumb_length);
  return true;
}

void TiffMeasure::WalkSubIfds(const Entry& e, int depth) {
  if (depth >= kMaxDepth || e.count == 0) return;
  sub_ifds_ = true;
  const bool wide = !IsShortType(e.type);
  const size_t width = wide ? 4 : 2;
  const uint32_t n = std::min(e.count, kMaxSubIfds);
  std::vector<uint8_t> array(n * width);
  if (uint64_t{e.count} * width <= 4) {
    std::memcpy(array.data(), e.field, array.size());
  } else if (!ReadFileBytes(Load32(e.field, big_), array.data(), array.size())) {
    return;
  }
  for (uint32_t i = 0; i < n && !rejected_; ++i) {
    const uint8_t* p = array.data() + i * width;
    WalkChain(wide ? Load32(p, big_) : Load16(p, big_), depth + 1, false);
  }
}

void TiffMeasure::WalkChain(uint64_t offset, int depth, bool first) {
  std::vector<uint8_t> table;
  while (offset != 0 && !rejected_ && Visit(offset)) {
    uint8_t count_bytes[2];
    if (!ReadFileBytes(offset, count_bytes, 2)) return;
    const uint32_t n = Load16(count_bytes, big_);
    table.resize(n * kEntryBytes + 4);
    const bool readable = ReadFileBytes(offset + 2, table.data(), table.size());
    // The first IFD describes the picture: without entries, or cut by the source's end, the
    // file is no whole TIFF.
    if (first && (n == 0 || !readable)) {
      Reject();
      return;
    }
    if (!readable) {
      // A later table that runs past the source's end is measured as empty.
      Extend(offset + 6);
      return;
    }
    Extend(offset + 2 + table.size());
    if (!MeasureEntries(table.data(), n, depth, first)) return;
    first = false;
    offset = Load32(table.data() + n * kEntryBytes, big_);
  }
}

uint64_t TiffMeasure::FileEnd(uint64_t first_ifd) {
  WalkChain(first_ifd, 0, true);
  if (rejected_) return 0;
  uint64_t end = end_;
  // Kodak files keep data after their last referenced block: the end is rounded up to a sector
  // and, unless the camera is a ProBack, given 4096 bytes more.
  const TiffState& t = t_;
  if (sub_ifds_ && t.maker_kodak && end != 0) {
    end = (end + kSectorBytes - 1) / kSectorBytes * kSectorBytes;
    if (!t.maker_pro_back) end += 4096;
  }
  return end;
}

}  // namespace kestrel
