#include "carve/formats/bitmap.h"

#include "platform/byte_order.h"

namespace kestrel {
namespace {

// An icon or cursor directory; returns the file length (the end of the image that ends last),
// 0 when the directory is not valid. A width or height of 0 stands for 256 pixels; the palette
// size is 0 (no palette), 2 or 16; every image lies after the directory. Entries beyond the
// bytes the scan holds fail the test.
uint64_t IconFileLength(const RowInput& r, uint32_t kind) {
  const SectorHeader& h = r.h;
  if (h.Le16(0) != 0 || h.Le16(2) != kind) return 0;
  const uint32_t entries = h.Le16(4);
  if (entries == 0 || h[9] != 0) return 0;
  if (!r.in.HasBytes(6, size_t{16} * entries)) return 0;
  const uint64_t directory_end = 16 * uint64_t{entries} + 6;
  uint64_t end = 0;
  for (uint32_t e = 0; e < entries; ++e) {
    const uint8_t* entry = r.in.data + 6 + 16 * e;
    const uint8_t colours = entry[2];
    if ((colours != 0 && colours != 2 && colours != 16) || entry[3] != 0) return 0;
    const uint64_t size = LoadLe32(entry + 8), offset = LoadLe32(entry + 12);
    if (size == 0 || offset < directory_end) return 0;
    end = std::max(end, offset + size);
  }
  return end;
}

// A bitmap information header of a known size, one plane, a real depth, the pixels after the
// headers and inside the file, and (uncompressed) pixel rows that fit the stated size.
bool BitmapHeaderValid(const SectorHeader& h) {
  const uint32_t file = h.Le32(2), pixels = h.Le32(10), info = h.Le32(14);
  const bool core = info == 12;
  if (!core && info != 40 && info != 52 && info != 56 && info != 108 && info != 124) return false;
  const uint32_t planes = core ? h.Le16(22) : h.Le16(26), depth = core ? h.Le16(24) : h.Le16(28);
  if (planes != 1 ||
      (depth != 1 && depth != 4 && depth != 8 && depth != 16 && depth != 24 && depth != 32)) {
    return false;
  }
  if (pixels < 14 + info || pixels >= file) return false;
  if (core || h.Le32(30) != 0) return true;
  const uint64_t width = h.Le32(18);
  const auto height = static_cast<int32_t>(h.Le32(22));
  const uint64_t rows = height < 0 ? uint64_t{0} - static_cast<int64_t>(height) : uint64_t(height);
  // Sides past a million pixels are no real bitmap (and would overflow the product below).
  constexpr uint64_t kMaxSide = uint64_t{1} << 20;
  if (width == 0 || rows == 0 || width > kMaxSide || rows > kMaxSide) return false;
  const uint64_t row_bytes = (width * depth + 31) / 32 * 4;
  return pixels + row_bytes * rows <= file;
}

Match IconDirectory(const RowInput& r, Start* s, uint32_t kind) {
  const uint64_t length = IconFileLength(r, kind);
  return length == 0 ? Match::kNo : Counted(s, length);
}

}  // namespace

Match MatchBmp(const RowInput& r, Start* s) {
  const SectorHeader& h = r.h;
  if (!h.StartsWith(0, "BM") || h.Le32(2) == 0 || h.Le16(6) != 0 || h.Le16(8) != 0)
    return Match::kNo;
  return BitmapHeaderValid(h) ? Sealed(s, h.Le32(2)) : Counted(s, h.Le32(2));
}

Match MatchCursor(const RowInput& r, Start* s) {
  return IconDirectory(r, s, 2);
}

Match MatchIcon(const RowInput& r, Start* s) {
  return IconDirectory(r, s, 1);
}

}  // namespace kestrel
