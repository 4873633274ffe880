#include "carve/formats/compound_doc_thumbnail_rows.h"

#include <cstdlib>

#include "platform/byte_order.h"

namespace kestrel {
namespace {

constexpr uint32_t kMaxProperties = 64;
constexpr uint32_t kThumbnailId = 17;      // PIDSI_THUMBNAIL
constexpr uint32_t kClipboardType = 0x47;  // VT_CF
constexpr uint32_t kWindowsFormat = 0xFFFFFFFF;
constexpr uint32_t kDibFormat = 8;  // CF_DIB
constexpr uint32_t kInfoHeaderBytes = 40;
constexpr uint64_t kMaxStride = 65536;
// Bytes a seam must compare to be judged.
constexpr uint64_t kMinSeamPairs = 256;
// Mean difference (per byte) a broken seam must exceed the other's twice by.
constexpr uint64_t kBreakMargin = 16;

}  // namespace

std::optional<ThumbnailRows> FindThumbnailRows(uint64_t size, const StreamBytes& read) {
  // The property set: its first section's offset, then the section's (id, offset) pairs.
  uint8_t head[0x30];
  if (size < sizeof head || !read(0, head, sizeof head) || LoadLe16(head) != 0xFFFE) {
    return std::nullopt;
  }
  const uint64_t section = LoadLe32(head + 0x2C);
  uint8_t counts[8];
  if (section > size - 8 || !read(section, counts, 8)) return std::nullopt;
  const uint64_t section_size = LoadLe32(counts), properties = LoadLe32(counts + 4);
  if (section_size > size - section || properties > kMaxProperties ||
      8 + 8 * properties > section_size) {
    return std::nullopt;
  }
  for (uint64_t k = 0; k < properties; ++k) {
    uint8_t pair[8];
    if (!read(section + 8 + 8 * k, pair, 8)) return std::nullopt;
    if (LoadLe32(pair) != kThumbnailId) continue;
    // Type, clipboard data size, format (a Windows format, then its number), bitmap header.
    const uint64_t at = section + LoadLe32(pair + 4);
    uint8_t value[16 + kInfoHeaderBytes];
    if (at > size || size - at < sizeof value || !read(at, value, sizeof value) ||
        LoadLe32(value) != kClipboardType || LoadLe32(value + 8) != kWindowsFormat ||
        LoadLe32(value + 12) != kDibFormat) {
      return std::nullopt;
    }
    const uint8_t* info = value + 16;
    const uint64_t width = LoadLe32(info + 4);
    const int32_t height = static_cast<int32_t>(LoadLe32(info + 8));
    const uint16_t depth = LoadLe16(info + 14);
    const uint64_t rows = static_cast<uint64_t>(std::abs(int64_t{height}));
    if (LoadLe32(info) != kInfoHeaderBytes || LoadLe16(info + 12) != 1 ||
        (depth != 24 && depth != 32) || LoadLe32(info + 16) != 0 || width == 0 ||
        width > kMaxStride || rows < 2) {
      return std::nullopt;
    }
    ThumbnailRows thumbnail;
    thumbnail.stride = (width * depth + 31) / 32 * 4;
    thumbnail.from = at + sizeof value;
    if (thumbnail.stride > kMaxStride || rows > (size - thumbnail.from) / thumbnail.stride) {
      return std::nullopt;
    }
    thumbnail.to = thumbnail.from + rows * thumbnail.stride;
    return thumbnail;
  }
  return std::nullopt;
}

bool BreaksRowsAgainst(const RowSeam& broken, const RowSeam& going_on) {
  if (broken.pairs < kMinSeamPairs || going_on.pairs < kMinSeamPairs) return false;
  // broken.difference / broken.pairs > 2 * going_on.difference / going_on.pairs + margin
  return broken.difference * going_on.pairs >
         (2 * going_on.difference + kBreakMargin * going_on.pairs) * broken.pairs;
}

}  // namespace kestrel
