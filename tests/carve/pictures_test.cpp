// Picture carving: JPEG files walked by their structure to the EOI that ends the frame, with the
// sector boundary at every place of it; broken structures refused; GIF up to its end marker.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "carve/formats/jpeg.h"
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

// A picture written by GraphicsMagick with `options`; empty when gm is missing or fails.
Bytes GmJpeg(const std::string& options) {
  testing::TempDir dir;
  if (!testing::HaveTool("gm") ||
      testing::RunCommand("gm convert " + options + " '" + (dir / "out.jpg") + "'") != 0) {
    return {};
  }
  return ReadFileBytes(dir / "out.jpg");
}

// The marker segments of `jpeg` before its first scan: {offset, total bytes} each.
std::vector<std::pair<size_t, size_t>> HeaderSegments(const Bytes& jpeg) {
  std::vector<std::pair<size_t, size_t>> segments;
  for (size_t at = 2; at + 4 <= jpeg.size() && jpeg[at + 1] != 0xDA;) {
    const size_t bytes = 2 + (size_t{jpeg[at + 2]} << 8 | jpeg[at + 3]);
    segments.emplace_back(at, bytes);
    at += bytes;
  }
  return segments;
}

// `jpeg` without its header segments of marker `marker`.
Bytes Without(const Bytes& jpeg, uint8_t marker) {
  Bytes out = jpeg;
  auto segments = HeaderSegments(jpeg);
  std::reverse(segments.begin(), segments.end());
  for (auto [at, bytes] : segments) {
    if (jpeg[at + 1] == marker) out.erase(out.begin() + at, out.begin() + at + bytes);
  }
  return out;
}

// `jpeg` with `bytes` inserted right after its SOI.
Bytes InsertedAfterSoi(const Bytes& jpeg, const Bytes& bytes) {
  Bytes out = jpeg;
  out.insert(out.begin() + 2, bytes.begin(), bytes.end());
  return out;
}

// A comment segment of `bytes` bytes in all (at least 4).
Bytes Comment(size_t bytes) {
  Bytes out = {0xFF, 0xFE, static_cast<uint8_t>((bytes - 2) >> 8), static_cast<uint8_t>(bytes - 2)};
  out.resize(bytes, 'c');
  return out;
}

TEST(PictureCarving, JpegEndingInItsHeaderSectorIsListedAtOnce) {
  const Bytes jpeg = GmJpeg("-size 8x8 xc:red");
  if (jpeg.empty()) GTEST_SKIP() << "gm is not installed";
  ASSERT_LT(jpeg.size(), 512u);
  Bytes image = jpeg;
  image.resize(2048, 0x55);
  CarveHarness h(image);
  const SectorFeeder feeder(image);
  ASSERT_TRUE(h.engine.Open("JPG", kGuardNone, StartJpeg(), feeder.At(0)));
  ASSERT_EQ(h.ui.rows.size(), 1u) << "listed before the next sector arrives";
  EXPECT_EQ(ReadFileBytes(h.ui.rows[0].full_path), jpeg);
  EXPECT_FALSE(h.engine.is_open());
}

TEST(PictureCarving, JpegEndsAtItsEoiWhereverTheSectorBoundaryFalls) {
  // A comment of 4..515 bytes moves every marker, length field, stuffed byte, restart marker and
  // the EOI across the sector boundary once.
  const Bytes base = GmJpeg("-size 96x64 plasma:fractal -interlace Line");
  if (base.empty()) GTEST_SKIP() << "gm is not installed";
  for (size_t shift = 4; shift < 516; ++shift) {
    const Bytes jpeg = InsertedAfterSoi(base, Comment(shift));
    Bytes image = jpeg;
    image.resize(jpeg.size() + 1500, 0xFF);  // fill bytes: no marker that could end the file
    CarveHarness h(image);
    h.Carve(StartJpeg(), "JPG");
    ASSERT_EQ(h.OnlyFile(), jpeg) << "comment of " << shift << " bytes";
  }
}

TEST(PictureCarving, JpegWithoutEoiIsNotKept) {
  Bytes jpeg = GmJpeg("-size 64x64 plasma:");
  if (jpeg.empty()) GTEST_SKIP() << "gm is not installed";
  jpeg.resize(jpeg.size() - 2);
  jpeg.resize(jpeg.size() + 3000, 0x21);  // scan data that goes on without a marker
  CarveHarness h(jpeg);
  h.Carve(StartJpeg(), "JPG", 0, ~uint64_t{0}, false);
  EXPECT_TRUE(h.engine.is_open());
  h.engine.Finish();
  EXPECT_TRUE(h.ui.rows.empty());
  EXPECT_TRUE(h.Files().empty());
}

TEST(PictureCarving, InvalidJpegStructuresAreRefused) {
  const Bytes jpeg = GmJpeg("-size 64x64 plasma:");
  if (jpeg.empty()) GTEST_SKIP() << "gm is not installed";
  Bytes fake = {0xFF, 0xD8, 0xFF, 0xE1};  // a header and filler, as random data starts
  fake.resize(12000, 0x20);               // APP1 of 0x2020 bytes, then no marker
  const Bytes app0_only = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x02, 0xFF, 0xD9};
  const struct {
    const char* what;
    Bytes bytes;
  } cases[] = {
      {"a header and filler", fake},
      {"EOI before any scan", app0_only},
      {"no frame header", Without(jpeg, 0xC0)},
      {"no quantisation table", Without(jpeg, 0xDB)},
      {"no Huffman table", Without(jpeg, 0xC4)},
      {"SOI again", InsertedAfterSoi(jpeg, {0xFF, 0xD8})},
      {"TEM", InsertedAfterSoi(jpeg, {0xFF, 0x01})},
      {"JPG reserved", InsertedAfterSoi(jpeg, {0xFF, 0xC8, 0x00, 0x04, 0, 0})},
      {"RST outside a scan", InsertedAfterSoi(jpeg, {0xFF, 0xD3})},
      {"no marker after a segment", InsertedAfterSoi(jpeg, {0x12, 0x34})},
      {"segment length 0", InsertedAfterSoi(jpeg, {0xFF, 0xE5, 0x00, 0x00})},
      {"segment length 1", InsertedAfterSoi(jpeg, {0xFF, 0xFE, 0x00, 0x01})},
      {"restart interval of 3 bytes", InsertedAfterSoi(jpeg, {0xFF, 0xDD, 0x00, 0x03, 0})},
  };
  for (const auto& c : cases) {
    Bytes image = c.bytes;
    image.resize(image.size() + 2048, 0x33);
    CarveHarness h(image);
    h.Carve(StartJpeg(), "JPG", 0, ~uint64_t{0}, false);
    EXPECT_FALSE(h.engine.is_open()) << c.what;
    EXPECT_TRUE(h.ui.rows.empty()) << c.what;
    EXPECT_TRUE(h.Files().empty()) << c.what << ": the partial file is deleted";
  }
}

TEST(PictureCarving, FillBytesBeforeAMarkerAreTaken) {
  const Bytes base = GmJpeg("-size 64x64 plasma:");
  if (base.empty()) GTEST_SKIP() << "gm is not installed";
  const Bytes jpeg = InsertedAfterSoi(base, {0xFF, 0xFF});  // FF FF FF E0: fill, then APP0
  Bytes image = jpeg;
  image.resize(jpeg.size() + 700, 0x44);
  CarveHarness h(image);
  h.Carve(StartJpeg(), "JPG");
  EXPECT_EQ(h.OnlyFile(), jpeg);
}

TEST(PictureCarving, AJpegThatReachesTheSafetyBoundIsRefused) {
  Bytes sector(512, 0x21);
  MemorySource source(sector);
  SectorInput in;
  std::vector<uint8_t> window(kLookBehind + 512 + kLookAhead, 0);
  std::copy(sector.begin(), sector.end(), window.begin() + kLookBehind);
  in.data = window.data() + kLookBehind;
  JpegState state;
  state.next = kJpegSizeCap;
  state.in_scan = true;
  const CarveView view{in, source, kJpegSizeCap, ~uint64_t{0}};
  EXPECT_EQ(FeedJpeg(state, view).step, Step::kRefuse);
  const CarveView below{in, source, kJpegSizeCap - 512, ~uint64_t{0}};
  state.next = kJpegSizeCap - 512;
  EXPECT_EQ(FeedJpeg(state, below).step, Step::kMore);
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
