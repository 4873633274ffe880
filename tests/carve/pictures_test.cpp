// Picture carving: JPEG files walked by their structure to the EOI that ends the frame, GIF files
// block by block to their trailer, with the sector boundary at every place of them; broken
// structures refused.

#include <algorithm>

#include "carve/formats/jpeg.h"
#include "carve/formats/pictures.h"
#include "support/carve_harness.h"

namespace kestrel {
namespace {

using testing::ReadFileBytes;
using testing::SectorFeeder;

// A picture written by GraphicsMagick with `options` (frames and their settings) in the format
// `extension` names; empty when gm is missing or fails.
Bytes GmPicture(const std::string& options, const std::string& extension) {
  testing::TempDir dir;
  const std::string out = dir / ("out." + extension);
  if (!testing::HaveTool("gm") ||
      testing::RunCommand("gm convert " + options + " '" + out + "'") != 0) {
    return {};
  }
  return ReadFileBytes(out);
}
Bytes GmJpeg(const std::string& options) {
  return GmPicture(options, "jpg");
}
Bytes GmGif(const std::string& options) {
  return GmPicture(options, "gif");
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
  ASSERT_TRUE(h.engine.Open("JPG", kNoGuards, MakeOpenFormat(StartJpeg()), feeder.At(0)));
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
  const Bytes picture = GmJpeg("-size 64x64 plasma:");
  if (picture.size() < 2) GTEST_SKIP() << "gm is not installed";
  // Without its EOI, and scan data that goes on without a marker.
  Bytes jpeg(picture.begin(), picture.end() - 2);
  jpeg.insert(jpeg.end(), 3000, 0x21);
  CarveHarness h(jpeg);
  h.Carve(StartJpeg(), "JPG", 0, ~uint64_t{0}, false);
  EXPECT_TRUE(h.engine.is_open());
  h.engine.Finish();
  h.ExpectNothingKept();
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
    SCOPED_TRACE(c.what);
    Bytes image = c.bytes;
    image.resize(image.size() + 2048, 0x33);
    CarveHarness h(image);
    h.Carve(StartJpeg(), "JPG", 0, ~uint64_t{0}, false);
    h.ExpectNothingKept();  // the partial file is deleted
  }
}

TEST(PictureCarving, FillBytesBeforeAMarkerAreTaken) {
  const Bytes base = GmJpeg("-size 64x64 plasma:");
  if (base.empty()) GTEST_SKIP() << "gm is not installed";
  const Bytes jpeg = InsertedAfterSoi(base, {0xFF, 0xFF});  // FF FF FF E0: fill, then APP0
  Bytes image = jpeg;
  image.resize(jpeg.size() + 700, 0x44);
  CarveHarness h;
  h.CarveOnly(StartJpeg(), "JPG", image);
  h.ExpectKept(jpeg);
}

TEST(PictureCarving, AJpegThatReachesTheSafetyBoundIsRefused) {
  Bytes sector(512, 0x21);
  MemorySource source(sector);
  SectorInput in;
  Bytes window(kLookBehind + 512 + kLookAhead, 0);
  std::copy(sector.begin(), sector.end(), window.begin() + kLookBehind);
  in.data = window.data() + kLookBehind;
  JpegState state;
  state.next = kJpegSizeCap;
  state.in_scan = true;
  const CarveView view{in, source, kJpegSizeCap, kAllFileTypesMask};
  EXPECT_EQ(FeedJpeg(state, view).step, Step::kRefuse);
  const CarveView below{in, source, kJpegSizeCap - 512, kAllFileTypesMask};
  state.next = kJpegSizeCap - 512;
  EXPECT_EQ(FeedJpeg(state, below).step, Step::kMore);
}

// --- GIF ---------------------------------------------------------------------------------

// Offset of the first block after the header, the screen descriptor and the global colour table.
size_t FirstGifBlock(const Bytes& gif) {
  return 13 + ((gif[10] & 0x80) != 0 ? 3u << ((gif[10] & 7) + 1) : 0);
}

// `gif` with `bytes` inserted before its first block.
Bytes InsertedBeforeFirstBlock(const Bytes& gif, const Bytes& bytes) {
  Bytes out = gif;
  out.insert(out.begin() + static_cast<ptrdiff_t>(FirstGifBlock(gif)), bytes.begin(), bytes.end());
  return out;
}

// A comment extension of `bytes` bytes in all (3, or 5 and more): 21 FE, sub-blocks of 'c', 00.
Bytes GifComment(size_t bytes) {
  Bytes out = {0x21, 0xFE};
  for (size_t left = bytes - 3; left > 0;) {
    size_t take = std::min<size_t>(256, left);
    if (left - take == 1) --take;
    out.push_back(static_cast<uint8_t>(take - 1));
    out.insert(out.end(), take - 1, 'c');
    left -= take;
  }
  out.push_back(0);
  return out;
}

// Feeds `image` from sector 0 as the dispatch would after a GIF header, without finishing.
void CarveGif(CarveHarness& h) {
  h.Carve(StartGif(), "GIF", 0, ~uint64_t{0}, false);
}

TEST(PictureCarving, GifEndsRightAfterItsTrailerWhereverTheSectorBoundaryFalls) {
  // Three frames with a looping application extension and graphic controls: a comment of
  // 3..515 bytes (none is 4 bytes long) moves every block, sub-block size byte and the trailer
  // across the boundary.
  const Bytes base = GmGif(
      "-delay 20 -size 120x80 plasma: -size 120x80 xc:blue -size 120x80 gradient:red-yellow "
      "-loop 0");
  if (base.empty()) GTEST_SKIP() << "gm is not installed";
  for (size_t shift = 3; shift < 516; ++shift) {
    if (shift == 4) continue;
    const Bytes gif = InsertedBeforeFirstBlock(base, GifComment(shift));
    // What follows holds 00 3B pairs and bytes that would make sub-blocks: none is taken.
    Bytes image = gif;
    for (size_t i = 0; i < 1500; ++i) image.push_back(i % 2 == 0 ? 0x00 : 0x3B);
    CarveHarness h(image);
    CarveGif(h);
    ASSERT_FALSE(h.engine.is_open()) << "ended by its own walk, comment of " << shift;
    ASSERT_EQ(h.ui.rows.size(), 1u) << shift;
    ASSERT_EQ(ReadFileBytes(h.ui.rows[0].full_path), gif) << "comment of " << shift << " bytes";
  }
}

TEST(PictureCarving, SingleFrameGifComesBackExactBeforeRandomBytes) {
  const Bytes gif = GmGif("-size 70x46 plasma:");
  if (gif.empty()) GTEST_SKIP() << "gm is not installed";
  Bytes image = gif;
  for (int i = 0; i < 3000; ++i) image.push_back(static_cast<uint8_t>(i * 131 + 7));
  CarveHarness h;
  h.CarveOnly(StartGif(), "GIF", image);
  h.ExpectKept(gif);
}

TEST(PictureCarving, InvalidGifStructuresAreRefused) {
  const Bytes gif = GmGif("-size 64x64 plasma:");
  if (gif.empty()) GTEST_SKIP() << "gm is not installed";
  const size_t first = FirstGifBlock(gif);
  auto with = [&](size_t at, uint8_t value) {
    Bytes out = gif;
    out[at] = value;
    return out;
  };
  Bytes random_after_header = {'G', 'I', 'F', '8', '9', 'a', 0x40, 0x00, 0x30, 0x00, 0x00, 0, 0};
  for (int i = 0; i < 3000; ++i) random_after_header.push_back(static_cast<uint8_t>(i * 97 + 13));
  const struct {
    const char* what;
    Bytes bytes;
  } cases[] = {
      {"version 88a", with(4, '8')},
      {"width 0",
       [&] {
         Bytes out = with(6, 0);
         out[7] = 0;
         return out;
       }()},
      {"an unknown introducer", InsertedBeforeFirstBlock(gif, {0x42})},
      {"an unknown extension label", InsertedBeforeFirstBlock(gif, {0x21, 0x55, 0x01, 0x00, 0x00})},
      {"a graphic control of 5 bytes",
       InsertedBeforeFirstBlock(gif, {0x21, 0xF9, 0x05, 0, 0, 0, 0, 0, 0x00})},
      {"the trailer before any image", InsertedBeforeFirstBlock(gif, {0x3B})},
      {"LZW code size 0", InsertedBeforeFirstBlock(gif, {0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0})},
      {"LZW code size 12", InsertedBeforeFirstBlock(gif, {0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 12})},
      {"an image of width 0", InsertedBeforeFirstBlock(gif, {0x2C, 0, 0, 0, 0, 0, 0, 1, 0, 0, 2})},
      {"random bytes after a header", random_after_header},
  };
  ASSERT_EQ(gif[first], 0x21) << "gm writes a graphic control first";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes image = c.bytes;
    image.resize(image.size() + 2048, 0x00);
    CarveHarness h(image);
    CarveGif(h);
    h.ExpectNothingKept();  // the partial file is deleted
  }
}

TEST(PictureCarving, GifWithoutTrailerIsNotKept) {
  Bytes gif = GmGif("-size 64x64 plasma:");
  if (gif.empty()) GTEST_SKIP() << "gm is not installed";
  gif.pop_back();  // the source ends right before the trailer
  CarveHarness h(gif);
  CarveGif(h);
  h.engine.Finish();
  h.ExpectNothingKept();
}

// Bad input: a chain of full sub-blocks that never ends is taken up to the safety bound and
// refused there.
TEST(PictureCarving, AGifSubBlockChainThatNeverEndsIsRefusedAtTheBound) {
  Bytes sector(512, 0xFF);  // size bytes of 255: one endless chain
  MemorySource source(sector);
  Bytes window(kLookBehind + 512 + kLookAhead, 0xFF);
  SectorInput in;
  in.data = window.data() + kLookBehind;
  GifState state;
  state.part = GifState::Part::kSubBlocks;
  state.image = true;
  state.next = kGifSizeCap - 512;
  const CarveView below{in, source, kGifSizeCap - 512, kAllFileTypesMask};
  EXPECT_EQ(FeedGif(state, below).step, Step::kMore);
  EXPECT_EQ(state.part, GifState::Part::kSubBlocks);
  const CarveView at_bound{in, source, kGifSizeCap, kAllFileTypesMask};
  EXPECT_EQ(FeedGif(state, at_bound).step, Step::kRefuse);
}

}  // namespace
}  // namespace kestrel
