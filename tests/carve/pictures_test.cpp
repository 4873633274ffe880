// Picture carving: where JPEG and GIF files end, also when their markers straddle sectors.
#include <gtest/gtest.h>

#include "carve/formats/pictures.h"
#include "support/carve_harness.h"

namespace kestrel {
namespace {

using testing::CarveHarness;
using testing::ReadFileBytes;
using testing::SectorFeeder;

using Bytes = std::vector<uint8_t>;

void Append(Bytes& out, std::initializer_list<uint8_t> bytes) {
  out.insert(out.end(), bytes);
}

// A segment: marker, big-endian length (including itself), payload of `payload` bytes.
void AppendSegment(Bytes& out, uint8_t marker, size_t payload, uint8_t fill = 0x11) {
  const size_t length = payload + 2;
  Append(out, {0xFF, marker, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)});
  out.insert(out.end(), payload, fill);
}

// A baseline JFIF picture whose marker segments before the start of scan fill `header_bytes`
// bytes (so the SOS marker sits at that offset), with `scan_bytes` of entropy-coded data.
Bytes MakeJfif(size_t header_bytes, size_t scan_bytes) {
  static constexpr uint8_t kApp0[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F',
                                      0,    1,    1,    0,    0,    1,    0,   1,   0,   0};
  // Room for the whole picture up front, so that no append reallocates.
  Bytes jpeg;
  jpeg.reserve(header_bytes + scan_bytes + 64);
  jpeg.assign(std::begin(kApp0), std::end(kApp0));
  size_t left = header_bytes - jpeg.size();
  while (left > 0) {
    size_t payload = std::min<size_t>(left - 4, 300);
    if (size_t rest = left - payload - 4; rest > 0 && rest < 4) payload -= 4;
    AppendSegment(jpeg, 0xDB, payload);
    left -= payload + 4;
  }
  AppendSegment(jpeg, 0xDA, 10, 0x01);
  for (size_t i = 0; i < scan_bytes; ++i) jpeg.push_back(static_cast<uint8_t>(i % 200 + 1));
  Append(jpeg, {0xFF, 0xD9});
  return jpeg;
}

// The header sector opens the file with the start values the dispatch gives it; the later
// sectors follow while it stays open. The file is not finished at the end of the image.
void CarveImage(CarveHarness& h, FormatState state, const char* extension) {
  h.Carve(std::move(state), extension, 0, ~uint64_t{0}, false);
}

void WalkJfif(CarveHarness& h) {
  const Bytes& image = h.source.bytes();
  CarveImage(h, StartJfif(static_cast<uint32_t>(image[4] << 8 | image[5])), "JPG");
}

TEST(PictureCarving, JfifEndsAtItsEoiAndIsListedAtOnce) {
  Bytes jpeg = MakeJfif(200, 100);  // SOS and EOI in the first sector
  Bytes image = jpeg;
  image.resize(2048, 0x55);
  CarveHarness h(image);
  const SectorFeeder feeder(image);
  ASSERT_TRUE(h.engine.Open("JPG", kGuardNone, StartJfif(16), feeder.At(0)));
  ASSERT_EQ(h.ui.rows.size(), 1u) << "listed before the next sector arrives";
  EXPECT_EQ(ReadFileBytes(h.ui.rows[0].full_path), jpeg);
  EXPECT_FALSE(h.engine.is_open());
  EXPECT_EQ(h.run.recovered_count, 1u);
}

TEST(PictureCarving, JfifSegmentEndingOnTheSectorBoundaryContinuesWithTheNextMarker) {
  Bytes jpeg = MakeJfif(512, 900);  // the segments before the scan end exactly at byte 512
  ASSERT_EQ(jpeg[512], 0xFF);
  ASSERT_EQ(jpeg[513], 0xDA);
  Bytes image = jpeg;
  image.resize(4096, 0);
  CarveHarness h(image);
  WalkJfif(h);
  ASSERT_EQ(h.ui.rows.size(), 1u);
  EXPECT_EQ(ReadFileBytes(h.ui.rows[0].full_path), jpeg);
}

TEST(PictureCarving, JfifWithoutEoiIsNotKept) {
  Bytes jpeg = MakeJfif(300, 2000);
  jpeg.erase(jpeg.end() - 2, jpeg.end());  // no EOI
  CarveHarness h(jpeg);
  WalkJfif(h);
  EXPECT_TRUE(h.ui.rows.empty());
  h.engine.Finish();
  EXPECT_TRUE(h.ui.rows.empty());
  EXPECT_TRUE(h.Files().empty());
}

TEST(PictureCarving, EoiStraddlingTwoSectorsIsFoundInTheFirst) {
  Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xDB};
  jpeg.resize(511, 0x20);
  Append(jpeg, {0xFF, 0xD9});  // FF is the last byte of sector 0, D9 the first of sector 1
  Bytes image = jpeg;
  image.resize(1536, 0x33);
  CarveHarness h(image);
  CarveImage(h, StartJpegSearch(), "JPG");
  h.engine.Finish();
  ASSERT_EQ(h.ui.rows.size(), 1u);
  EXPECT_EQ(ReadFileBytes(h.ui.rows[0].full_path), jpeg);
}

TEST(PictureCarving, ExifJpegEndsAtTheMainEoiNotTheThumbnails) {
  Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xE1};
  jpeg.resize(300, 0x20);
  Append(jpeg, {0xFF, 0xD8, 0x01, 0xFF, 0xD9});  // the thumbnail, in sector 0
  jpeg.resize(1400, 0x21);
  Append(jpeg, {0xFF, 0xD9});  // the main image's end, in sector 2
  Bytes image = jpeg;
  image.resize(3072, 0x44);
  CarveHarness h(image);
  CarveImage(h, StartJpegSearch(), "JPG");
  h.engine.Finish();
  ASSERT_EQ(h.ui.rows.size(), 1u);
  EXPECT_EQ(ReadFileBytes(h.ui.rows[0].full_path), jpeg);
}

TEST(PictureCarving, SizeCapEndsAPictureAtItsLastMarker) {
  Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xDB};
  jpeg.resize(1000, 0x20);
  Append(jpeg, {0xFF, 0xD9});
  Bytes image = jpeg;
  image.resize(kPictureSizeCap + 4096, 0x44);  // no further marker: the scan runs into the cap
  CarveHarness h(image);
  CarveImage(h, StartJpegSearch(), "JPG");
  ASSERT_EQ(h.ui.rows.size(), 1u) << "finished as complete at the cap";
  EXPECT_EQ(ReadFileBytes(h.ui.rows[0].full_path), jpeg);
  EXPECT_FALSE(h.engine.is_open());
}

TEST(PictureCarving, PictureReachingTheCapWithoutAnyMarkerIsNotKept) {
  // An earlier picture's end must never cut this one.
  Bytes earlier = {0xFF, 0xD8, 0xFF, 0xDB};
  earlier.resize(698, 0x20);
  Append(earlier, {0xFF, 0xD9});
  earlier.resize(1024, 0);
  Bytes image = earlier;
  Append(image, {0xFF, 0xD8, 0xFF, 0xDB});
  image.resize(1024 + kPictureSizeCap + 4096, 0x44);
  CarveHarness h(image);
  h.Carve(StartJpegSearch(), "JPG", 0, 2);
  ASSERT_EQ(h.ui.rows.size(), 1u);
  h.Carve(StartJpegSearch(), "JPG", 2);
  EXPECT_EQ(h.ui.rows.size(), 1u);
  EXPECT_EQ(h.Files().size(), 1u);
}

TEST(PictureCarving, GifEndsAtBlockTerminatorAndTrailer) {
  Bytes gif = {'G', 'I', 'F', '8', '9', 'a'};
  gif.resize(800, 0x07);
  Append(gif, {0x00, 0x3B});
  Bytes image = gif;
  image.resize(2048, 0x09);
  CarveHarness h(image);
  h.Carve(StartGifSearch(), "GIF");
  ASSERT_EQ(h.ui.rows.size(), 1u);
  EXPECT_EQ(h.ui.rows[0].name, "KES00001.GIF");
  EXPECT_EQ(ReadFileBytes(h.ui.rows[0].full_path), gif);
}

}  // namespace
}  // namespace kestrel
