// The slide thumbnail's pixel rows read from a SummaryInformation property set: found for an
// uncompressed 24-bit DIB, refused when its header claims rows past the stream, absurd widths or
// a palette depth, or its bytes are not known; and the judgement of a seam against another.
#include "carve/formats/compound_doc_thumbnail_rows.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace kestrel {
namespace {

constexpr size_t kThumbSection = 0x30;
constexpr size_t kThumbValue = kThumbSection + 16;
constexpr size_t kThumbInfo = kThumbValue + 16;

void PutThumbLe32(uint8_t* p, uint32_t v) {
  for (int k = 0; k < 4; ++k) p[k] = static_cast<uint8_t>(v >> (8 * k));
}
void PutThumbLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

// A property set whose one property is a thumbnail of `width` x `height` pixels of `depth` bits,
// followed by `pixel_bytes` bytes.
std::vector<uint8_t> ThumbnailPropertySet(uint32_t width, int32_t height, uint16_t depth,
                                          size_t pixel_bytes) {
  std::vector<uint8_t> set(kThumbInfo + 40 + pixel_bytes, 0);
  PutThumbLe16(set.data(), 0xFFFE);
  PutThumbLe32(set.data() + 0x2C, kThumbSection);
  PutThumbLe32(set.data() + kThumbSection, static_cast<uint32_t>(set.size() - kThumbSection));
  PutThumbLe32(set.data() + kThumbSection + 4, 1);
  PutThumbLe32(set.data() + kThumbSection + 8, 17);
  PutThumbLe32(set.data() + kThumbSection + 12, kThumbValue - kThumbSection);
  PutThumbLe32(set.data() + kThumbValue, 0x47);
  PutThumbLe32(set.data() + kThumbValue + 4, static_cast<uint32_t>(48 + pixel_bytes));
  PutThumbLe32(set.data() + kThumbValue + 8, 0xFFFFFFFF);
  PutThumbLe32(set.data() + kThumbValue + 12, 8);
  PutThumbLe32(set.data() + kThumbInfo, 40);
  PutThumbLe32(set.data() + kThumbInfo + 4, width);
  PutThumbLe32(set.data() + kThumbInfo + 8, static_cast<uint32_t>(height));
  PutThumbLe16(set.data() + kThumbInfo + 12, 1);
  PutThumbLe16(set.data() + kThumbInfo + 14, depth);
  return set;
}

std::optional<ThumbnailRows> RowsOf(const std::vector<uint8_t>& set, size_t known) {
  return FindThumbnailRows(set.size(), [&](uint64_t at, uint8_t* out, size_t n) {
    if (at + n > known) return false;
    std::memcpy(out, set.data() + at, n);
    return true;
  });
}

TEST(CompoundDocThumbnailRows, FindsTheRowsOfAnUncompressedBitmapOnly) {
  // 5 pixels of 3 bytes pad to 16-byte rows; a negative height lists the rows top down.
  const std::vector<uint8_t> set = ThumbnailPropertySet(5, -3, 24, 48);
  const auto rows = RowsOf(set, set.size());
  ASSERT_TRUE(rows.has_value());
  EXPECT_EQ(rows->stride, 16u);
  EXPECT_EQ(rows->from, kThumbInfo + 40);
  EXPECT_EQ(rows->to, kThumbInfo + 40 + 48);

  EXPECT_FALSE(RowsOf(set, kThumbInfo)) << "the bitmap header not known";
  EXPECT_FALSE(RowsOf(ThumbnailPropertySet(5, 4, 24, 48), SIZE_MAX)) << "a row past the stream";
  EXPECT_FALSE(RowsOf(ThumbnailPropertySet(0x7FFFFFFF, 2, 24, 48), SIZE_MAX)) << "absurd width";
  EXPECT_FALSE(RowsOf(ThumbnailPropertySet(5, INT32_MIN, 24, 48), SIZE_MAX)) << "absurd height";
  EXPECT_FALSE(RowsOf(ThumbnailPropertySet(16, 3, 8, 48), SIZE_MAX)) << "a palette";
  std::vector<uint8_t> looping = set;
  PutThumbLe32(looping.data() + kThumbSection + 4, 0xFFFFFFFF);  // properties past the section
  EXPECT_FALSE(RowsOf(looping, SIZE_MAX));
}

TEST(CompoundDocThumbnailRows, SeamBreaksOnlyClearlyAndWithEnoughBytes) {
  RowSeam flat, noisy, text, few;
  for (int k = 0; k < 512; ++k) {
    flat.Add(250, 251);
    noisy.Add(static_cast<uint8_t>(k * 97), 128);
    text.Add(k % 4 == 0 ? 40 : 250, 250);
  }
  for (int k = 0; k < 10; ++k) few.Add(0, 255);
  EXPECT_TRUE(BreaksRowsAgainst(noisy, flat));
  EXPECT_FALSE(BreaksRowsAgainst(flat, noisy));
  EXPECT_FALSE(BreaksRowsAgainst(noisy, text)) << "text rows differ from the row above too";
  EXPECT_FALSE(BreaksRowsAgainst(few, flat)) << "too few bytes to judge";
}

}  // namespace
}  // namespace kestrel
