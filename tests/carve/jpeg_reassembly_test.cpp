// JPEGs found in fragments: pictures written by cjpeg (baseline, progressive, with restart
// markers) come back exactly when their pieces lie in order with random bytes, text or a unit
// starting FF D9 between them, out of order, or intertwined with another picture; the report
// gives their real pieces; pictures of one set of Huffman tables intertwined are never mixed; a
// picture with a piece missing is not written, and neither is anything from hundreds of headers
// each before an FF D9.
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
    if (!testing::HaveJpegTools()) GTEST_SKIP() << "cjpeg or gm is not installed";
  }
  Bytes Picture(const std::string& options, int width = 800, int height = 600) {
    Bytes jpeg = testing::CjpegPicture(dir_, options, width, height);
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
  for (const std::string options : {"-quality 90", "-progressive", "-quality 85 -restart 2"}) {
    const Bytes jpeg = Picture(options);
    const std::vector<Bytes> pieces = PiecesOf(jpeg, {3 * kJpegUnit, 8 * kJpegUnit});
    ExpectOnly(jpeg, LayPieces(pieces, {0, 1, 2}, {NoiseUnits(2, 1), testing::TextBlock()}),
               options + ", random bytes and text between");
    ExpectOnly(jpeg, LayPieces(pieces, {0, 1, 2}, {EndMarkerUnit(), NoiseUnits(1, 2)}),
               options + ", a unit starting FF D9 between");
  }
}

TEST_F(JpegReassembly, PicturesInPiecesOutOfOrderComeBackWholeWithTheirPiecesReported) {
  for (const std::string options : {"-quality 90", "-progressive"}) {
    const Bytes jpeg = Picture(options);
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

// A1 B1 A2 B2 A3 B3: each picture's gaps are the other's pieces.
Bytes IntertwinedPictures(const Bytes& a, const Bytes& b) {
  const std::vector<Bytes> pa = PiecesOf(a, {3 * kJpegUnit, 7 * kJpegUnit});
  const std::vector<Bytes> pb = PiecesOf(b, {2 * kJpegUnit, 8 * kJpegUnit});
  return LayPieces({pa[0], pb[0], pa[1], pb[1], pa[2], pb[2]}, {0, 1, 2, 3, 4, 5}, {});
}

TEST_F(JpegReassembly, IntertwinedPicturesComeBackOrNotAtAll) {
  // Tables of their own (optimised): each picture's decoding breaks in the other's pieces.
  const Bytes a = Picture("-quality 90"), b = Picture("-quality 80 -optimize", 720, 560);
  {
    TempDir dir;
    const auto scan = testing::ScanImage(IntertwinedPictures(a, b), dir);
    ASSERT_EQ(scan->files.size(), 2u);
    EXPECT_EQ(scan->File(scan->files[0]), a);
    EXPECT_EQ(scan->File(scan->files[1]), b);
  }
  // One set of tables: each decodes on in the other's pieces, and only the rows tell.
  const Bytes twin = Picture("-quality 90", 600, 520);
  TempDir dir;
  const auto scan = testing::ScanImage(IntertwinedPictures(a, twin), dir);
  for (const auto& file : scan->files) {
    const Bytes bytes = scan->File(file);
    EXPECT_TRUE(bytes == a || bytes == twin) << "a file of " << bytes.size() << " bytes mixes them";
  }
}

TEST_F(JpegReassembly, PictureWithAPieceMissingIsNotWritten) {
  const Bytes jpeg = Picture("-quality 90");
  const std::vector<Bytes> pieces = PiecesOf(jpeg, {3 * kJpegUnit, 6 * kJpegUnit});
  TempDir dir;
  const auto scan =
      testing::ScanImage(LayPieces({pieces[0], pieces[2]}, {0, 1}, {NoiseUnits(1, 6)}), dir);
  EXPECT_TRUE(scan->files.empty());
}

TEST_F(JpegReassembly, HeadersBeforeEndMarkersWriteNothing) {
  const Bytes jpeg = Picture("-quality 90");
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
