#include "carve/formats/tiff_measure.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

#include "carve/structured_bytes.h"
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
constexpr uint16_t kTagExifIfd = 34665;
constexpr uint16_t kTagMakerNote = 37500;

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
      return uint64_t{4} * count;
    case 5:
    case 10:
    case 12:
      return uint64_t{8} * count;
    default:
      return count;
  }
}

TiffMeasure::TiffMeasure(ByteSource& source, uint64_t selected, TiffState& state)
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

uint64_t TiffMeasure::ApplyThumbnailRule(uint64_t len) const {
  const TiffState& t = t_;
  const uint64_t thumb_end = t.thumb_offset + t.thumb_length;
  if (thumb_end < t.maker_note_offset) {
    const uint64_t gap = t.maker_note_offset - thumb_end;
    return len + (gap > 14 ? gap - 14 : 0);
  }
  return std::max(len, thumb_end);
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
    uint64_t types;
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
    if ((selected_ & maker.types) == 0) {
      ClearMakerFlags(t);
      return false;
    }
    t.*maker.flag = true;
    return true;
  }
  if (std::strncmp(text, "ProBack", 8) == 0 && e.count <= 8) t.maker_pro_back = true;
  return true;
}

bool TiffMeasure::AddStrips(const Entry* offsets, const Entry& counts, IfdSize& size) {
  const uint64_t n = counts.count;
  if (n > kMaxStrips) return Reject();
  const size_t count_width = IsShortType(counts.type) ? 2 : 4;
  const size_t offset_width = offsets && IsShortType(offsets->type) ? 2 : 4;
  const uint64_t offsets_known = offsets ? std::min<uint64_t>(offsets->count, n) : 0;

  std::vector<uint8_t> count_bytes, offset_bytes;
  uint64_t largest_offset = 0;
  for (uint64_t first = 0; first < n; first += kStripChunk) {
    const uint64_t chunk = std::min(kStripChunk, n - first);
    count_bytes.assign(chunk * count_width, 0);
    if (n * count_width <= 4) {
      std::memcpy(count_bytes.data(), counts.field, count_bytes.size());
    } else if (!ReadFileBytes(Load32(counts.field, big_) + first * count_width, count_bytes.data(),
                              count_bytes.size())) {
      return Reject();
    }
    const uint64_t with_offset = offsets_known > first ? std::min(chunk, offsets_known - first) : 0;
    offset_bytes.assign(with_offset * offset_width, 0);
    if (with_offset > 0) {
      if (offsets->count * offset_width <= 4) {
        std::memcpy(offset_bytes.data(), offsets->field, offset_bytes.size());
      } else if (!ReadFileBytes(Load32(offsets->field, big_) + first * offset_width,
                                offset_bytes.data(), offset_bytes.size())) {
        return Reject();
      }
    }
    for (uint64_t i = 0; i < chunk; ++i) {
      const uint8_t* c = count_bytes.data() + i * count_width;
      const uint64_t length = count_width == 2 ? Load16(c, big_) : Load32(c, big_);
      size.len += length + (length & 1);
      if (i >= with_offset) continue;
      const uint8_t* o = offset_bytes.data() + i * offset_width;
      const uint64_t offset = offset_width == 2 ? Load16(o, big_) : Load32(o, big_);
      if (offset >= largest_offset) {
        largest_offset = offset;
        size.last_strip_end = offset + length;
      }
    }
  }
  return true;
}

bool TiffMeasure::SizeIfdEntries(const uint8_t* entries, uint32_t count, Mode mode,
                                 uint64_t ifd_offset, IfdSize& size) {
  TiffState& t = t_;
  const bool offset_mode = mode == Mode::kOffset;
  uint64_t& sums = offset_mode ? size.extra : size.len;
  bool uncompressed = false;
  Entry strip_offsets;
  bool have_strip_offsets = false;

  for (uint32_t k = 0; k < count; ++k) {
    const uint8_t* raw = entries + k * kEntryBytes;
    const Entry e = DecodeEntry(raw);
    const uint64_t value_size = TiffValueSize(e.type, e.count);
    // Values stored out of line start on word boundaries: an odd one is followed by a pad byte.
    if (value_size > 4) sums += value_size + (value_size & 1);
    switch (e.tag) {
      case kTagCompression: {
        const uint32_t v = InlineValue(e);
        if (v == 1 || v == 65000) uncompressed = true;
        break;
      }
      case kTagMake:
      case kTagModel:
        if (!CheckCameraMaker(raw) && !AnyMakerFlag(t) && !t_.orf_name && !t_.always_keep) {
          return Reject();
        }
        if (!uncompressed) ClearMakerFlags(t);
        break;
      case kTagStripOffsets:
        strip_offsets = e;
        have_strip_offsets = true;
        break;
      case kTagStripByteCounts:
        size.strips = true;
        if (e.count == 1) {
          const uint64_t length = InlineValue(e);
          const uint64_t offset = have_strip_offsets ? InlineValue(strip_offsets) : 0;
          if (offset_mode) {
            size.len += length + offset;
            return true;
          }
          size.len += length;
          size.last_strip_end = std::max(size.last_strip_end, offset + length);
        } else if (e.count > 1) {
          if (offset_mode) size.len += ifd_offset;
          if (!AddStrips(have_strip_offsets ? &strip_offsets : nullptr, e, size)) return false;
        }
        break;
      case kTagSubIfds:
        if (uncompressed) {
          const uint64_t end = SizeSubIfds(e.type, e.count, e.field);
          if (rejected_) return false;
          if (end != 0) {
            size.len = end;
            return true;
          }
        }
        break;
      case kTagThumbOffset:
        t.thumb_offset = InlineValue(e);
        break;
      case kTagThumbLength:
        t.thumb_length = InlineValue(e);
        size.len += t.thumb_length;
        break;
      case kTagExifIfd:
        SizeIfdChain(InlineValue(e), sums);
        if (rejected_) return false;
        break;
      case kTagMakerNote:
        t.maker_note_offset = InlineValue(e);
        break;
      default:
        break;
    }
  }
  return true;
}

uint64_t TiffMeasure::SizeSubIfds(uint16_t type, uint32_t count, const uint8_t* value_field) {
  const bool wide = !IsShortType(type);
  if ((!wide && count <= 2) || (wide && count < 2)) {
    return SizeSubIfd(wide ? Load32(value_field, big_) : Load16(value_field, big_));
  }
  const size_t width = wide ? 4 : 2;
  const uint32_t n = std::min(count, kMaxSubIfds);
  std::vector<uint8_t> array(n * width);
  if (!ReadFileBytes(Load32(value_field, big_), array.data(), array.size())) return 0;
  uint64_t largest = 0;
  for (uint32_t i = 0; i < n && !rejected_; ++i) {
    const uint8_t* p = array.data() + i * width;
    largest = std::max(largest, SizeSubIfd(wide ? Load32(p, big_) : Load16(p, big_)));
  }
  const TiffState& t = t_;
  if (largest != 0 && t.maker_kodak) {
    largest = (largest + kSectorBytes - 1) / kSectorBytes * kSectorBytes;
    if (!t.maker_pro_back) largest += 4096;
  }
  return largest;
}

uint64_t TiffMeasure::SizeSubIfd(uint64_t offset) {
  uint64_t end = 0;
  std::vector<uint8_t> table;
  while (offset != 0 && !rejected_ && Visit(offset)) {
    uint8_t count_bytes[2];
    if (!ReadFileBytes(offset, count_bytes, 2)) break;
    const uint32_t n = Load16(count_bytes, big_);
    table.resize(n * kEntryBytes + 4);
    if (!ReadFileBytes(offset + 2, table.data(), table.size())) break;
    IfdSize size;
    size.extra = uint64_t{n} * kEntryBytes + 6;
    if (!SizeIfdEntries(table.data(), n, Mode::kOffset, offset, size)) return 0;
    uint64_t ifd_end = ApplyThumbnailRule(size.len + size.extra);
    if (size.strips) ifd_end = std::max(ifd_end, size.last_strip_end);
    end = std::max(end, ifd_end);
    offset = Load32(table.data() + n * kEntryBytes, big_);
  }
  return end;
}

void TiffMeasure::SizeIfdChain(uint64_t offset, uint64_t& len) {
  std::vector<uint8_t> table;
  while (offset != 0 && !rejected_ && Visit(offset)) {
    uint8_t count_bytes[2];
    if (!ReadFileBytes(offset, count_bytes, 2)) return;
    const uint32_t n = Load16(count_bytes, big_);
    // The IFD is read with the sectors that cover it and a 1024-byte window; one that runs past
    // them is measured as empty.
    const uint64_t first_sector_start = offset / kSectorBytes * kSectorBytes;
    const uint64_t window_end =
        first_sector_start + ((1024 + offset % kSectorBytes) / kSectorBytes + 1) * kSectorBytes;
    const uint64_t table_bytes = uint64_t{n} * kEntryBytes + 4;
    if (offset + 2 + table_bytes > window_end) {
      len += 14;
      return;
    }
    table.resize(table_bytes);
    if (!ReadFileBytes(offset + 2, table.data(), table.size())) return;
    len += uint64_t{n} * kEntryBytes + 14;
    IfdSize size;
    size.len = len;
    if (!SizeIfdEntries(table.data(), n, Mode::kPlain, offset, size)) return;
    len = size.len;
    offset = Load32(table.data() + n * kEntryBytes, big_);
  }
}

}  // namespace kestrel
