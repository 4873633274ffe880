// JPEGs found in fragments: pictures written by cjpeg (baseline, progressive, with restart
// markers) come back exactly when their pieces lie in order with random bytes, text or a unit
// starting FF D9 between them, out of order, or intertwined with another picture; the report
// gives their real pieces; pictures of one set of Huffman tables intertwined are never mixed (a
// pair that once was, kept as it was drawn); a picture with a piece missing is not written, and
// neither is anything from hundreds of headers each before an FF D9.
#include "carve/formats/jpeg_reassembly.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/damaged_blocks.h"
#include "support/jpeg_pictures.h"
#include "support/scan_harness.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::TempDir;
constexpr size_t kJpegUnit = 4096;

// `units` units of random bytes.
Bytes NoiseUnits(size_t units, uint32_t seed) {
  Bytes bytes;
  for (size_t i = 0; i < units; ++i) {
    const Bytes block = testing::NoiseBlock(seed + static_cast<uint32_t>(i));
    bytes.insert(bytes.end(), block.begin(), block.end());
  }
  return bytes;
}

Bytes EndMarkerUnit() {
  Bytes bytes = NoiseUnits(1, 77);
  bytes[0] = 0xFF;
  bytes[1] = 0xD9;
  return bytes;
}

void PadToUnit(Bytes& image) {
  image.resize((image.size() + kJpegUnit - 1) / kJpegUnit * kJpegUnit, 0);
}

// `file` cut at the unit boundaries `cuts`.
std::vector<Bytes> PiecesOf(const Bytes& file, const std::vector<size_t>& cuts) {
  std::vector<Bytes> pieces;
  size_t from = 0;
  for (size_t i = 0; i <= cuts.size(); ++i) {
    const size_t to = i < cuts.size() ? cuts[i] : file.size();
    pieces.emplace_back(file.begin() + static_cast<ptrdiff_t>(from),
                        file.begin() + static_cast<ptrdiff_t>(to));
    from = to;
  }
  return pieces;
}

// An image of `pieces` laid in the order `order`, each followed by `gaps[i]` (none past the
// gaps given), with zeros before and after. The source offset of each piece in `offsets`.
Bytes LayPieces(const std::vector<Bytes>& pieces, const std::vector<size_t>& order,
                const std::vector<Bytes>& gaps, std::vector<size_t>* offsets = nullptr) {
  Bytes image(2 * kJpegUnit, 0);
  if (offsets != nullptr) offsets->assign(pieces.size(), 0);
  for (size_t i = 0; i < order.size(); ++i) {
    if (offsets != nullptr) (*offsets)[order[i]] = image.size();
    image.insert(image.end(), pieces[order[i]].begin(), pieces[order[i]].end());
    PadToUnit(image);
    if (i < gaps.size()) image.insert(image.end(), gaps[i].begin(), gaps[i].end());
  }
  image.resize(image.size() + 2 * kJpegUnit, 0);
  return image;
}

class JpegReassembly : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::HaveDrawingTools()) GTEST_SKIP() << "cjpeg or ffmpeg is not installed";
  }
  Bytes Picture(const std::string& options, uint32_t seed, int width = 800, int height = 600,
                const std::string& filter = "") {
    Bytes jpeg = testing::CjpegDrawn(dir_, options, width, height, seed, filter);
    EXPECT_GT(jpeg.size(), 12 * kJpegUnit) << options;
    return jpeg;
  }
  // Scans `image`: `jpeg` comes back exactly, and nothing else is written.
  void ExpectOnly(const Bytes& jpeg, const Bytes& image, const std::string& what) {
    TempDir dir;
    const auto scan = testing::ScanImage(image, dir);
    ASSERT_EQ(scan->files.size(), 1u) << what;
    EXPECT_EQ(scan->File(scan->files[0]), jpeg) << what;
  }
  TempDir dir_;
};

TEST_F(JpegReassembly, PicturesInPiecesInOrderComeBackWhole) {
  uint32_t seed = 1;
  for (const std::string options : {"-quality 90", "-progressive", "-quality 85 -restart 2"}) {
    const Bytes jpeg = Picture(options, seed++);
    const std::vector<Bytes> pieces = PiecesOf(jpeg, {3 * kJpegUnit, 8 * kJpegUnit});
    ExpectOnly(jpeg, LayPieces(pieces, {0, 1, 2}, {NoiseUnits(2, 1), testing::TextBlock()}),
               options + ", random bytes and text between");
    ExpectOnly(jpeg, LayPieces(pieces, {0, 1, 2}, {EndMarkerUnit(), NoiseUnits(1, 2)}),
               options + ", a unit starting FF D9 between");
  }
}

TEST_F(JpegReassembly, PicturesInPiecesOutOfOrderComeBackWholeWithTheirPiecesReported) {
  uint32_t seed = 11;
  for (const std::string options : {"-quality 90", "-progressive"}) {
    const Bytes jpeg = Picture(options, seed++);
    const std::vector<Bytes> pieces = PiecesOf(jpeg, {4 * kJpegUnit, 9 * kJpegUnit});
    for (const std::vector<size_t>& order : {std::vector<size_t>{2, 0, 1}, {0, 2, 1}, {1, 2, 0}}) {
      std::vector<size_t> offsets;
      const Bytes image = LayPieces(
          pieces, order, {NoiseUnits(1, 3), NoiseUnits(2, 4), NoiseUnits(1, 5)}, &offsets);
      TempDir dir;
      testing::ScanOptions with_report;
      with_report.report = true;
      const auto scan = testing::ScanImage(image, dir, with_report);
      const std::string what = options + ", order " + std::to_string(order[0]) +
                               std::to_string(order[1]) + std::to_string(order[2]);
      ASSERT_EQ(scan->files.size(), 2u) << what;  // the picture and the report
      EXPECT_EQ(scan->File(scan->files[0]), jpeg) << what;
      const Bytes report = scan->File("report.dfxml");
      const std::string text(report.begin(), report.end());
      for (const size_t offset : offsets) {
        EXPECT_NE(text.find("img_offset='" + std::to_string(offset) + "'"), std::string::npos)
            << what << ": no run at " << offset;
      }
    }
  }
}

// Another file of a few hundred units between a picture's pieces (a picture taken after the
// camera wrote a movie into the holes of a card): its next piece lies 1.6 MiB further on.
TEST_F(JpegReassembly, PiecesFarApartComeBackWhole) {
  const Bytes jpeg = Picture("-quality 90", 5);
  const std::vector<Bytes> pieces = PiecesOf(jpeg, {3 * kJpegUnit});
  ExpectOnly(jpeg, LayPieces(pieces, {0, 1}, {NoiseUnits(400, 9)}), "400 units apart");
}

// A camera picture's Exif block holds a thumbnail and runs over the first unit boundary: the cut
// falls in the headers, before the picture's data. The unit whose bytes go on with them (the
// next marker where the block's length puts it, the headers on to the data) continues it.
TEST_F(JpegReassembly, PictureCutInsideItsExifBlockComesBackWhole) {
  const Bytes picture = Picture("-quality 90", 31);
  const Bytes thumbnail = testing::CjpegDrawn(dir_, "-quality 75", 160, 120, 32, "");
  ASSERT_GT(thumbnail.size(), 1000u);
  Bytes exif = {'E', 'x', 'i', 'f', 0, 0};
  exif.insert(exif.end(), thumbnail.begin(), thumbnail.end());
  exif.resize(std::max<size_t>(exif.size(), 6000), 0);
  ASSERT_LT(exif.size() + 2, size_t{65536});
  const size_t length = exif.size() + 2;
  Bytes jpeg = {
      0xFF, 0xD8, 0xFF, 0xE1, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)};
  jpeg.insert(jpeg.end(), exif.begin(), exif.end());
  jpeg.insert(jpeg.end(), picture.begin() + 2, picture.end());
  const std::vector<Bytes> pieces = PiecesOf(jpeg, {kJpegUnit, 6 * kJpegUnit});
  ExpectOnly(jpeg, LayPieces(pieces, {0, 1, 2}, {NoiseUnits(2, 6), testing::TextBlock()}),
             "in order");
  ExpectOnly(jpeg, LayPieces(pieces, {0, 2, 1}, {NoiseUnits(1, 7), NoiseUnits(1, 8)}),
             "out of order");
}

// A1 B1 A2 B2 A3 B3: each picture's gaps are the other's pieces; `a` is cut after its units
// `a_cuts`, `b` after `b_cuts`.
Bytes IntertwinedPictures(const Bytes& a, const Bytes& b, std::vector<size_t> a_cuts = {3, 7},
                          std::vector<size_t> b_cuts = {2, 8}) {
  for (size_t& cut : a_cuts) cut *= kJpegUnit;
  for (size_t& cut : b_cuts) cut *= kJpegUnit;
  const std::vector<Bytes> pa = PiecesOf(a, a_cuts);
  const std::vector<Bytes> pb = PiecesOf(b, b_cuts);
  return LayPieces({pa[0], pb[0], pa[1], pb[1], pa[2], pb[2]}, {0, 1, 2, 3, 4, 5}, {});
}

// Whatever comes of `image`, no file mixes the two pictures; the number that came back whole.
size_t WholeAndUnmixed(const Bytes& image, const Bytes& a, const Bytes& b,
                       const std::string& what) {
  TempDir dir;
  const auto scan = testing::ScanImage(image, dir);
  size_t whole = 0;
  for (const auto& file : scan->files) {
    const Bytes bytes = scan->File(file);
    EXPECT_TRUE(bytes == a || bytes == b)
        << what << ": a file of " << bytes.size() << " bytes mixes them";
    whole += bytes == a || bytes == b;
  }
  return whole;
}

TEST_F(JpegReassembly, IntertwinedPicturesComeBackOrNotAtAll) {
  // Tables of their own (optimised): each picture's decoding breaks in the other's pieces.
  const Bytes a = Picture("-quality 90", 21), b = Picture("-quality 80 -optimize", 22, 720, 560);
  EXPECT_EQ(WholeAndUnmixed(IntertwinedPictures(a, b), a, b, "own tables"), 2u);
  // One set of tables: each decodes on in the other's pieces, and only the rows tell.
  size_t whole = 0;
  for (uint32_t seed = 30; seed < 34; ++seed) {
    const Bytes first = Picture("-quality 90", seed), second = Picture("-quality 90", seed + 100);
    whole += WholeAndUnmixed(IntertwinedPictures(first, second), first, second,
                             "one set of tables, seed " + std::to_string(seed));
  }
  EXPECT_GE(whole, 6u) << "of 8 pictures";
}

// Pictures of one set of tables intertwined with long last pieces: after a cut, the picture's
// own later units decode on about as smoothly as the unit that truly follows, and only following
// each of them tells which one makes the picture whole.
TEST_F(JpegReassembly, IntertwinedPicturesWithLongLastPiecesComeBackWhole) {
  for (const uint32_t seed : {51, 52, 54, 56}) {
    const Bytes first = Picture("-quality 90", seed), second = Picture("-quality 90", seed + 100);
    EXPECT_EQ(WholeAndUnmixed(IntertwinedPictures(first, second, {1, 5}, {3, 6}), first, second,
                              "seed " + std::to_string(seed)),
              2u)
        << "seed " << seed;
  }
}

// Two pictures of one set of tables, intertwined, that were once put together as one: the
// first's rows seemed to go on in the second's data.
TEST_F(JpegReassembly, PairOnceMixedIsNotMixed) {
  const Bytes a = Picture(
      "-quality 90", 0, 800, 600,
      "format=rgb24,geq=r='128+28*sin(X/67.64+Y/45.52+5.85)+19*sin(X/62.00+Y/61.90+0.06)+"
      "39*sin(X/20.57+Y/74.96+0.56)':g='128+25*sin(X/63.04+Y/12.83+2.87)+20*sin(X/59.50+Y/"
      "55.67+4.49)+40*sin(X/60.33+Y/38.65+0.49)':b='128+32*sin(X/53.25+Y/45.82+1.75)+16*sin(X/"
      "15.06+Y/12.49+0.09)+16*sin(X/51.64+Y/65.83+2.40)',noise=alls=11:all_seed=1033");
  const Bytes b = Picture(
      "-quality 90", 0, 640, 520,
      "format=rgb24,geq=r='128+34*sin(X/85.16+Y/59.01+3.50)+49*sin(X/20.19+Y/52.49+4.58)+"
      "50*sin(X/9.27+Y/79.31+1.17)':g='128+46*sin(X/14.14+Y/17.21+2.98)+21*sin(X/56.41+Y/"
      "27.69+2.24)+33*sin(X/32.44+Y/14.67+3.04)':b='128+46*sin(X/22.03+Y/73.30+0.64)+48*sin(X/"
      "43.89+Y/40.54+2.75)+44*sin(X/54.44+Y/23.13+1.00)',noise=alls=3:all_seed=5033");
  WholeAndUnmixed(IntertwinedPictures(a, b, {8, 21}, {5, 8}), a, b, "the pair");
}

TEST_F(JpegReassembly, PictureWithAPieceMissingIsNotWritten) {
  const Bytes jpeg = Picture("-quality 90", 41);
  const std::vector<Bytes> pieces = PiecesOf(jpeg, {3 * kJpegUnit, 6 * kJpegUnit});
  TempDir dir;
  const auto scan =
      testing::ScanImage(LayPieces({pieces[0], pieces[2]}, {0, 1}, {NoiseUnits(1, 6)}), dir);
  EXPECT_TRUE(scan->files.empty());
}

TEST_F(JpegReassembly, HeadersBeforeEndMarkersWriteNothing) {
  const Bytes jpeg = Picture("-quality 90", 42);
  // The picture's headers and first unit of data, then a sector starting FF D9: 500 times.
  Bytes image(kJpegUnit, 0);
  const Bytes end = EndMarkerUnit();
  for (int i = 0; i < 500; ++i) {
    image.insert(image.end(), jpeg.begin(), jpeg.begin() + kJpegUnit);
    image.insert(image.end(), end.begin(), end.begin() + 512);
  }
  image.resize(image.size() + kJpegUnit, 0);
  TempDir dir;
  const auto scan = testing::ScanImage(image, dir);
  EXPECT_TRUE(scan->files.empty());
}

TEST(JpegData, UnitsOfAPictureLookLikeJpegDataAndRandomBytesAndTextDoNot) {
  if (!testing::HaveJpegTools()) GTEST_SKIP() << "cjpeg or gm is not installed";
  TempDir dir;
  const Bytes jpeg = testing::CjpegPicture(dir, "-quality 90");
  ASSERT_GT(jpeg.size(), 8 * kJpegUnit);
  for (size_t at = kJpegUnit; at + kJpegUnit <= jpeg.size(); at += kJpegUnit) {
    EXPECT_TRUE(LooksLikeJpegData(jpeg.data() + at, kJpegUnit)) << at;
  }
  // Its last bytes at the start of a unit, then slack.
  const Bytes noise = NoiseUnits(1, 9);
  Bytes last(jpeg.end() - 1000, jpeg.end());
  last.insert(last.end(), noise.begin(), noise.begin() + (kJpegUnit - last.size()));
  EXPECT_TRUE(LooksLikeJpegData(last.data(), kJpegUnit)) << "its end, then slack";
  EXPECT_FALSE(LooksLikeJpegData(noise.data(), kJpegUnit));
  EXPECT_FALSE(LooksLikeJpegData(testing::TextBlock().data(), kJpegUnit));
  EXPECT_FALSE(LooksLikeJpegData(EndMarkerUnit().data(), kJpegUnit));
}

}  // namespace
}  // namespace kestrel
