// JPEG recovery by the raw scan: pictures written by GraphicsMagick, jpegtran and exiv2 (baseline,
// progressive, restart intervals, Exif thumbnails, larger than 10 MiB) laid among zeros, random
// bytes and other files come back byte for byte; random bytes and broken structures give none.

#include <algorithm>
#include <random>

#include "support/byte_strings.h"
#include "support/fixture_samples.h"
#include "support/image_builder.h"
#include "support/memory_scan.h"

namespace kestrel {
namespace {

using testing::Filler;
using testing::ImageBuilder;
using Bytes = std::vector<uint8_t>;

constexpr uint64_t kJpegSector = ImageBuilder::kSectorBytes;

bool HaveJpegTools() {
  return testing::HaveTool("gm") && testing::HaveTool("exiv2") && testing::HaveTool("jpegtran");
}

// Runs `commands` in a fresh folder; they write out.jpg.
Bytes MakeJpeg(const std::string& commands) {
  testing::TempDir dir;
  if (testing::RunCommand("cd '" + dir.path() + "' && " + commands) != 0) return {};
  return testing::ReadFileBytes(dir / "out.jpg");
}

// A gm picture with an Exif block and a thumbnail inserted by exiv2.
Bytes MakeExifJpeg(const std::string& picture_options) {
  return MakeJpeg("gm convert " + picture_options +
                  " out.jpg && gm convert -size 160x120 plasma: -quality 75 out-thumb.jpg && "
                  "exiv2 -M'set Exif.Image.Make Kestrel' out.jpg && exiv2 -it out.jpg");
}

// The offset of the thumbnail's SOI (the second FF D8 FF), or npos.
size_t ThumbnailAt(const Bytes& jpeg) {
  static constexpr uint8_t kSoi[] = {0xFF, 0xD8, 0xFF};
  const auto at = std::search(jpeg.begin() + 2, jpeg.end(), std::begin(kSoi), std::end(kSoi));
  return at == jpeg.end() ? std::string::npos : static_cast<size_t>(at - jpeg.begin());
}

// `jpeg` with a comment segment of `bytes` bytes (at least 4) right after its SOI.
Bytes WithCommentAfterSoi(const Bytes& jpeg, size_t bytes) {
  const size_t length = bytes - 2;
  Bytes comment = {0xFF, 0xFE, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)};
  comment.resize(bytes, 'c');
  return testing::Concat(
      {{jpeg.begin(), jpeg.begin() + 2}, comment, {jpeg.begin() + 2, jpeg.end()}});
}

std::vector<Bytes> CarvedJpegs(const ImageBuilder& image) {
  return testing::CarvedBytes(image.bytes(), TypeBit(kJpg));
}

// The JPEGs carved from `jpeg` laid between `sectors` random sectors on each side.
std::vector<Bytes> CarvedAmongRandom(const Bytes& jpeg, uint64_t sectors, uint64_t seed) {
  ImageBuilder image;
  image.AddRandom(sectors, seed, Filler::kRandom);
  image.AddFile(jpeg, {}, Filler::kRandom);
  image.AddRandom(sectors, seed + 1, Filler::kRandom);
  return CarvedJpegs(image);
}

struct ToolPictures {
  Bytes baseline, progressive, restarts, progressive_restarts, exif;
};

ToolPictures MakeToolPictures() {
  ToolPictures p;
  p.baseline = MakeJpeg("gm convert -size 320x240 plasma:fractal -quality 90 out.jpg");
  p.progressive = MakeJpeg("gm convert -size 320x240 plasma:fractal -interlace Line out.jpg");
  p.restarts = MakeJpeg(
      "gm convert -size 320x240 plasma:fractal a.jpg && jpegtran -restart 1 -outfile out.jpg "
      "a.jpg");
  p.progressive_restarts = MakeJpeg(
      "gm convert -size 300x200 plasma: a.jpg && "
      "jpegtran -progressive -restart 2 -outfile out.jpg a.jpg");
  p.exif = MakeExifJpeg("-size 640x480 plasma:");
  return p;
}

TEST(JpegRecovery, ToolPicturesAmongZerosRandomBytesAndOtherFilesComeBackExact) {
  if (!HaveJpegTools()) GTEST_SKIP() << "gm, exiv2 or jpegtran is not installed";
  const ToolPictures p = MakeToolPictures();
  const std::vector<Bytes> jpegs = {p.baseline, p.progressive, p.restarts, p.progressive_restarts,
                                    p.exif};
  for (const Bytes& jpeg : jpegs) ASSERT_GT(jpeg.size(), 1000u);
  ASSERT_NE(ThumbnailAt(p.exif), std::string::npos) << "exiv2 inserted a thumbnail";

  for (Filler filler : {Filler::kZeros, Filler::kRandom}) {
    SCOPED_TRACE(filler == Filler::kZeros ? "zeros" : "random");
    ImageBuilder image;
    std::vector<Bytes> expected;
    uint64_t seed = 11;
    for (const Bytes& jpeg : jpegs) {
      image.AddRandom(3, seed++, filler);
      image.AddFile(jpeg, {}, filler);
      expected.push_back(jpeg);
      // Another type's file right behind it.
      image.AddSample("picture.gif", filler);
    }
    for (const char* sample : {"exif.jpg", "jfif.jpg", "plain.jpg"}) {
      image.AddSample(sample, filler);  // right after the previous file, no gap
      expected.push_back(testing::ReadFixtureSample(sample));
      image.AddRandom(2, seed++, filler);
    }
    EXPECT_EQ(CarvedJpegs(image), expected);
  }
}

TEST(JpegRecovery, LargeExifPicturesAreNotCutAtTenMiBOrAtTheirThumbnail) {
  if (!HaveJpegTools()) GTEST_SKIP() << "gm, exiv2 or jpegtran is not installed";
  const Bytes large = MakeExifJpeg("-size 3000x2400 xc:gray +noise Random -quality 98");
  ASSERT_GT(large.size(), uint64_t{10} << 20);
  ASSERT_NE(ThumbnailAt(large), std::string::npos);
  EXPECT_EQ(CarvedAmongRandom(large, 4, 5), std::vector<Bytes>{large});
}

TEST(JpegRecovery, AThumbnailStartingOnASectorBoundaryStartsNoFile) {
  if (!HaveJpegTools()) GTEST_SKIP() << "gm, exiv2 or jpegtran is not installed";
  const Bytes exif = MakeExifJpeg("-size 640x480 plasma:");
  const size_t thumbnail = ThumbnailAt(exif);
  ASSERT_LT(thumbnail + 4, kJpegSector);
  // A comment before the Exif block moves the thumbnail onto the second sector's start.
  const Bytes jpeg = WithCommentAfterSoi(exif, kJpegSector - thumbnail);
  ASSERT_EQ(ThumbnailAt(jpeg), kJpegSector);
  EXPECT_EQ(CarvedAmongRandom(jpeg, 2, 8), std::vector<Bytes>{jpeg});
}

TEST(JpegRecovery, APictureCutInItsScanDataGivesWayToTheNextPicture) {
  if (!HaveJpegTools()) GTEST_SKIP() << "gm, exiv2 or jpegtran is not installed";
  const ToolPictures p = MakeToolPictures();
  // The first 8 sectors of a picture (its scan data starts in the first two), then whole
  // pictures.
  const Bytes cut(p.baseline.begin(), p.baseline.begin() + 8 * kJpegSector);
  ImageBuilder image;
  image.AddFile(cut);
  image.AddFile(p.exif);
  image.AddFile(Bytes(p.progressive.begin(), p.progressive.begin() + 3000), {}, Filler::kRandom);
  image.AddFile(p.restarts);
  image.AddZeros(2);
  EXPECT_EQ(CarvedJpegs(image), (std::vector<Bytes>{p.exif, p.restarts}));
}

// A multi-picture file as cameras write it: `first` with an APP2 "MPF" index (little-endian)
// right after its SOI naming `first` and `others`, and `others` after the first image's EOI;
// `pad` bytes of a comment segment before the index move the further images.
Bytes MultiPicture(const Bytes& first, const std::vector<Bytes>& others, size_t pad) {
  const size_t n = 1 + others.size();
  Bytes index = {'I', 'I', 42, 0, 8, 0, 0, 0, 2, 0};  // header, IFD of 2 entries
  auto put16 = [&](uint32_t v) {
    index.push_back(static_cast<uint8_t>(v));
    index.push_back(static_cast<uint8_t>(v >> 8));
  };
  auto put32 = [&](uint32_t v) {
    put16(v & 0xFFFF);
    put16(v >> 16);
  };
  const uint32_t entries_at = 8 + 2 + 2 * 12 + 4;
  put16(0xB000), put16(7), put32(4), index.insert(index.end(), {'0', '1', '0', '0'});
  put16(0xB002), put16(7), put32(static_cast<uint32_t>(16 * n)), put32(entries_at);
  put32(0);  // no next IFD
  const size_t segment = 2 + 2 + 4 + index.size() + 16 * n;
  const size_t comment = pad == 0 ? 0 : pad + 4;
  const size_t first_size = first.size() + segment + comment;
  const size_t mpf_base = 2 + comment + 8;  // SOI, comment, APP2 marker, length, "MPF\0"
  put32(0x20030000), put32(static_cast<uint32_t>(first_size)), put32(0), put32(0);
  size_t at = first_size;
  for (const Bytes& other : others) {
    put32(0x00020002), put32(static_cast<uint32_t>(other.size()));
    put32(static_cast<uint32_t>(at - mpf_base)), put32(0);
    at += other.size();
  }
  Bytes out = {0xFF, 0xD8};
  if (pad != 0) {
    out.insert(out.end(),
               {0xFF, 0xFE, static_cast<uint8_t>((pad + 2) >> 8), static_cast<uint8_t>(pad + 2)});
    out.resize(out.size() + pad, 'c');
  }
  out.insert(out.end(), {0xFF, 0xE2, static_cast<uint8_t>((segment - 2) >> 8),
                         static_cast<uint8_t>(segment - 2), 'M', 'P', 'F', 0});
  out.insert(out.end(), index.begin(), index.end());
  out.insert(out.end(), first.begin() + 2, first.end());
  for (const Bytes& other : others) out.insert(out.end(), other.begin(), other.end());
  return out;
}

TEST(JpegRecovery, AMultiPictureFileContinuesToTheEndOfItsLastImage) {
  if (!HaveJpegTools()) GTEST_SKIP() << "gm, exiv2 or jpegtran is not installed";
  const ToolPictures p = MakeToolPictures();
  const Bytes preview = MakeJpeg("gm convert -size 160x120 plasma: out.jpg");
  const Bytes plain = MultiPicture(p.baseline, {p.progressive, preview}, 0);
  // The second image starting on a sector boundary starts no file of its own.
  const size_t second = p.baseline.size() +
                        (plain.size() - p.baseline.size() - p.progressive.size() - preview.size());
  const Bytes aligned =
      MultiPicture(p.baseline, {p.progressive, preview},
                   (2 * kJpegSector - (second + 4) % kJpegSector) % kJpegSector + kJpegSector);
  ASSERT_EQ((aligned.size() - p.progressive.size() - preview.size()) % kJpegSector, 0u);
  for (const Bytes* jpeg : {&plain, &aligned}) {
    ImageBuilder image;
    image.AddRandom(2, 3, Filler::kRandom);
    image.AddFile(*jpeg, {}, Filler::kRandom);
    image.AddFile(p.restarts, {}, Filler::kRandom);  // the next picture right behind it
    EXPECT_EQ(CarvedJpegs(image), (std::vector<Bytes>{*jpeg, p.restarts}));
  }
}

TEST(JpegRecovery, AMultiPictureIndexNamingMissingImagesEndsAtTheEoi) {
  if (!HaveJpegTools()) GTEST_SKIP() << "gm, exiv2 or jpegtran is not installed";
  const ToolPictures p = MakeToolPictures();
  Bytes jpeg = MultiPicture(p.baseline, {p.progressive}, 0);
  jpeg.resize(jpeg.size() - p.progressive.size());  // the second image is not there
  ImageBuilder image;
  image.AddFile(jpeg, {}, Filler::kRandom);
  image.AddRandom(100, 4, Filler::kRandom);
  EXPECT_EQ(CarvedJpegs(image), std::vector<Bytes>{jpeg});
}

// Random bytes in which a JPEG header starts many sectors: FF D8 FF and an APP0, DQT or APP1
// marker, the rest random.
Bytes RandomWithJpegStarts(uint64_t bytes, uint64_t seed) {
  std::mt19937_64 random(seed);
  Bytes image(bytes);
  for (size_t i = 0; i + 8 <= image.size(); i += 8) {
    const uint64_t value = random();
    std::copy_n(reinterpret_cast<const uint8_t*>(&value), 8, image.begin() + i);
  }
  static constexpr uint8_t kMarkers[] = {0xE0, 0xDB, 0xE1};
  for (uint64_t sector = 0; sector < bytes / kJpegSector; sector += 1 + random() % 97) {
    uint8_t* at = image.data() + sector * kJpegSector;
    at[0] = 0xFF;
    at[1] = 0xD8;
    at[2] = 0xFF;
    at[3] = kMarkers[sector % 3];
  }
  return image;
}

TEST(JpegRecovery, RandomBytesGiveNoPicture) {
  const Bytes image = RandomWithJpegStarts(uint64_t{64} << 20, 20261209);
  EXPECT_TRUE(testing::CarveInMemory(image, TypeBit(kJpg)).empty());
}

// --- Bad input ---------------------------------------------------------------------------

TEST(JpegRecovery, SegmentLengthsZeroOrOneGiveNoPicture) {
  if (!HaveJpegTools()) GTEST_SKIP() << "gm, exiv2 or jpegtran is not installed";
  const Bytes jpeg = MakeJpeg("gm convert -size 64x48 plasma: out.jpg");
  ASSERT_EQ(jpeg[2], 0xFF);
  ASSERT_EQ(jpeg[3], 0xE0);
  for (int length : {0, 1}) {
    for (size_t field : {size_t{4}, 4 + 2 + size_t{jpeg[5]}}) {  // APP0's and the next segment's
      Bytes broken = jpeg;
      broken[field] = 0;
      broken[field + 1] = static_cast<uint8_t>(length);
      ImageBuilder image;
      image.AddFile(broken);
      image.AddZeros(4);
      EXPECT_TRUE(CarvedJpegs(image).empty()) << "length " << length << " at " << field;
    }
  }
}

TEST(JpegRecovery, ScanDataWithoutEoiToTheSourcesEndGivesNoPicture) {
  if (!HaveJpegTools()) GTEST_SKIP() << "gm, exiv2 or jpegtran is not installed";
  Bytes jpeg = MakeJpeg("gm convert -size 64x48 plasma: out.jpg");
  jpeg.resize(jpeg.size() - 2);  // no EOI; scan data without any marker runs on to the end
  jpeg.resize(uint64_t{4} << 20, 0x55);
  ImageBuilder image;
  image.AddFile(jpeg);
  EXPECT_TRUE(CarvedJpegs(image).empty());
}

}  // namespace
}  // namespace kestrel
