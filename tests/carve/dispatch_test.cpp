// The signature dispatch: which headers start files, which guards keep a header inside an
// open file from interrupting it, and the lengths the dispatch gives length-driven files.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <filesystem>

#include "carve/dispatch.h"
#include "support/carve_harness.h"
#include "support/fixture_samples.h"
#include "support/scan_harness.h"
#include "support/structured_fixtures.h"

namespace kestrel {
namespace {

using testing::ScanImage;
using testing::TempDir;
using Bytes = std::vector<uint8_t>;

constexpr size_t kSector = 512;

class Image {
 public:
  explicit Image(size_t sectors) : bytes_(sectors * kSector, 0) {}
  // Copies `data` to the start of `sector`.
  Image& Put(size_t sector, const Bytes& data, size_t offset = 0) {
    std::memcpy(bytes_.data() + sector * kSector + offset, data.data(), data.size());
    return *this;
  }
  Image& Fill(size_t sector, size_t sectors, uint8_t value) {
    std::memset(bytes_.data() + sector * kSector, value, sectors * kSector);
    return *this;
  }
  const Bytes& bytes() const { return bytes_; }
  Bytes Slice(size_t offset, size_t length) const {
    return Bytes(bytes_.begin() + static_cast<ptrdiff_t>(offset),
                 bytes_.begin() + static_cast<ptrdiff_t>(offset + length));
  }

 private:
  Bytes bytes_;
};

Bytes Text(const std::string& text) {
  return Bytes(text.begin(), text.end());
}
Bytes Le32(uint32_t v) {
  return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}
Bytes Be32(uint32_t v) {
  return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
}
Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

// An MPEG-1 pack header and the header of a PES packet of `length` bytes after it (its start
// code, length and the byte that says it has no time stamps).
const Bytes kMpegPack = {0x00, 0x00, 0x01, 0xBA, 0x21, 0x00, 0x01, 0x00, 0x01, 0x80, 0x1B, 0x91};
// A system header listing one video stream, as a stream's first pack holds.
const Bytes kMpegSystemHeader = {0x00, 0x00, 0x01, 0xBB, 0x00, 0x09, 0x80, 0x33,
                                 0x01, 0x04, 0xE1, 0xFF, 0xE0, 0xE0, 0x20};
const Bytes kMpegEnd = {0x00, 0x00, 0x01, 0xB9};
Bytes PesHeader(uint16_t length) {
  return {0x00, 0x00, 0x01, 0xE0, uint8_t(length >> 8), uint8_t(length), 0x0F};
}
// The chunks of a WAV whose RIFF size is `riff_size`: a format chunk (16-bit mono at 8 kHz)
// and the header of a data chunk that fills the rest.
Bytes WaveChunks(uint32_t riff_size) {
  return Concat({Text("RIFF"),
                 Le32(riff_size),
                 Text("WAVEfmt "),
                 Le32(16),
                 {1, 0, 1, 0},
                 Le32(8000),
                 Le32(16000),
                 {2, 0, 16, 0},
                 Text("data"),
                 Le32(riff_size - 36)});
}
// The chunks of an AIFF whose FORM size is `form_size`: a COMM chunk (16-bit mono, no sample
// frames stated) and the header of a sound data chunk that fills the rest.
Bytes AiffChunks(uint32_t form_size) {
  return Concat({Text("FORM"),
                 Be32(form_size),
                 Text("AIFFCOMM"),
                 Be32(18),
                 {0, 1},
                 Be32(0),
                 {0, 16, 0x40, 0x0B, 0xFA, 0, 0, 0, 0, 0, 0, 0},
                 Text("SSND"),
                 Be32(form_size - 38),
                 Be32(0),
                 Be32(0)});
}
// Six MPEG-1 layer III frames (128 kbit/s, 44.1 kHz, 417 bytes each).
Bytes Mp3Frames() {
  Bytes frames;
  for (int k = 0; k < 6; ++k) {
    frames.insert(frames.end(), {0xFF, 0xFB, 0x90, 0x44});
    frames.resize(frames.size() + 32, 0);  // side information: no main data
    frames.resize(frames.size() + 381, 0x47);
  }
  return frames;
}
// A small camera-style JPEG: SOI, an Exif APP1, the tables, an 8x8 frame, one scan of
// `scan_bytes` bytes of entropy-coded data, EOI.
// A grey picture 8 pixels high and 32 per byte of `scan_bytes` wide that decodes whole: every
// block is a DC difference of 0 and an end of block, each a one-bit code "0", four blocks a byte.
Bytes ExifJpeg(size_t scan_bytes) {
  Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x08, 'E', 'x', 'i', 'f', 0, 0};
  const Bytes dqt = {0xFF, 0xDB, 0x00, 0x43, 0x00};
  jpeg.insert(jpeg.end(), dqt.begin(), dqt.end());
  jpeg.insert(jpeg.end(), 64, 1);
  const auto width = static_cast<uint16_t>(scan_bytes * 32);
  const Bytes frame = {0xFF,           0xC0, 0x00, 0x0B, 8, 0, 8, uint8_t(width >> 8),
                       uint8_t(width), 1,    1,    0x11, 0};
  jpeg.insert(jpeg.end(), frame.begin(), frame.end());
  for (uint8_t table_class : {uint8_t{0x00}, uint8_t{0x10}}) {  // DC 0, then AC 0: a 1-bit code
    const Bytes dht = {0xFF, 0xC4, 0x00, 0x14, table_class, 1, 0, 0, 0, 0, 0,
                       0,    0,    0,    0,    0,           0, 0, 0, 0, 0, 0};
    jpeg.insert(jpeg.end(), dht.begin(), dht.end());
  }
  const Bytes scan = {0xFF, 0xDA, 0x00, 0x08, 1, 1, 0, 0, 0x3F, 0};
  jpeg.insert(jpeg.end(), scan.begin(), scan.end());
  jpeg.insert(jpeg.end(), scan_bytes, 0x00);
  jpeg.insert(jpeg.end(), {0xFF, 0xD9});
  return jpeg;
}

TEST(Dispatch, JpegHeaderInsideAnOpenMpegDoesNotStartAPicture) {
  TempDir dir;
  Image image(20);
  // A pack and a packet whose data holds a JPEG at sector 3; a second pack, a packet and the
  // end code at sector 4.
  image.Fill(2, 3, 0x47)
      .Put(2, Concat({kMpegPack, kMpegSystemHeader, PesHeader(1011)}))
      .Put(3, ExifJpeg(100));
  image.Put(4, Concat({kMpegPack, PesHeader(12)}), 20).Put(4, kMpegEnd, 50);
  auto scan = ScanImage(image.bytes(), dir);
  ASSERT_EQ(scan->files, std::vector<std::string>{"KES00001.MPG"});
  EXPECT_EQ(scan->File("KES00001.MPG"), image.Slice(2 * kSector, 2 * kSector + 54));
}

TEST(Dispatch, JpegHeaderInsideAnOpenGifStartsAPicture) {
  TempDir dir;
  Image image(20);
  image.Put(2, testing::PaddedGif(3000));  // a GIF still inside its comment at sector 3
  const Bytes jpeg = ExifJpeg(200);
  image.Put(3, jpeg);
  auto scan = ScanImage(image.bytes(), dir);
  ASSERT_EQ(scan->files, std::vector<std::string>{"KES00001.JPG"});
  EXPECT_EQ(scan->File("KES00001.JPG"), jpeg);
}

TEST(Dispatch, HeadersCountOnlyAtSectorStarts) {
  TempDir dir;
  Image image(20);
  image.Put(3, testing::PaddedGif(60), 100);
  auto scan = ScanImage(image.bytes(), dir);
  EXPECT_TRUE(scan->files.empty());
  EXPECT_EQ(scan->ui.MessageIds().back(), 1193);
}

TEST(Dispatch, RiffWithZeroSizeStartsNothing) {
  TempDir dir;
  Image image(20);
  image.Put(2, Concat({Text("RIFF"), Le32(0), Text("WAVEfmt ")}));
  image.Put(4, Concat({Text("RIFF"), Le32(0), Text("AVI LIST")}));
  auto scan = ScanImage(image.bytes(), dir);
  EXPECT_TRUE(scan->files.empty());
}

TEST(Dispatch, LengthDrivenFilesGetTheirStatedLength) {
  TempDir dir;
  Image image(40);
  // AIFF: FORM size n gives n + 8 bytes.
  image.Fill(2, 3, 0x31).Put(2, AiffChunks(1000));
  // Sun audio: header (data offset 32) and 700 bytes of data are written whole.
  image.Fill(10, 3, 0x32).Put(10, Concat({Text(".snd"), Be32(32), Be32(700), Be32(2)}));
  // WAV: RIFF size n gives n + 8 bytes.
  image.Fill(20, 4, 0x33).Put(20, WaveChunks(1500));
  auto scan = ScanImage(image.bytes(), dir);
  ASSERT_EQ(scan->files,
            (std::vector<std::string>{"KES00001.AIF", "KES00001.SND", "KES00001.WAV"}));
  EXPECT_EQ(scan->File("KES00001.AIF"), image.Slice(2 * kSector, 1008));
  EXPECT_EQ(scan->File("KES00001.SND"), image.Slice(10 * kSector, 732));
  EXPECT_EQ(scan->File("KES00001.WAV"), image.Slice(20 * kSector, 1508));
}

TEST(Dispatch, AnUnselectedHeaderStillEndsTheOpenFile) {
  // A WMV header stating 5000 bytes: while the WMV is open, its guard keeps the camera JPEG at
  // sector 5 from starting; the WMV is not whole, and the second look at its sectors finds the
  // JPEG.
  Image image(20);
  image.Fill(2, 12, 0x07).Put(2, Bytes{0x30, 0x26, 0xB2, 0x75}).Put(2, Le32(5000), 70);
  image.Put(5, ExifJpeg(300));
  const TypeSet types = TypeBit(kWmv) | TypeBit(kJpg);
  TempDir open_dir;
  auto guarded = ScanImage(image.bytes(), open_dir, testing::OnlyTypes(types));
  EXPECT_EQ(guarded->files, std::vector<std::string>{"KES00001.JPG"});
  // A BMP header (BMP not selected) at sector 3 ends the WMV, which, cut short, is not whole
  // and not kept; the JPEG after it starts.
  image.Put(3, Concat({Text("BM"), Le32(5000), Le32(0)}));
  TempDir dir;
  auto scan = ScanImage(image.bytes(), dir, testing::OnlyTypes(types));
  EXPECT_EQ(scan->files, std::vector<std::string>{"KES00001.JPG"});
}

TEST(Dispatch, AbsurdLengthsAtTheEndOfTheSourceListNothing) {
  TempDir dir;
  Image image(30);
  image.Fill(20, 10, 0x42).Put(20, Concat({Text("BM"), Le32(0xFFFFFFF0), Le32(0)}));
  auto bmp = ScanImage(image.bytes(), dir);
  EXPECT_TRUE(bmp->files.empty()) << "a file that was not written whole is not kept";
  EXPECT_EQ(bmp->ui.MessageIds(), std::vector<int>{1193});
}

TEST(Dispatch, IconDirectoryReachingPastTheSourceIsNoIcon) {
  TempDir dir;
  Image image(4);
  // 65535 entries of 16 bytes would reach far past the source's end.
  Bytes header = {0, 0,  1, 0,    0xFF, 0xFF, 16, 16,   0, 0, 1,
                  0, 32, 0, 0x68, 0x04, 0,    0,  0x16, 0, 0, 0};
  image.Fill(1, 3, 0x10).Put(1, header);
  auto scan = ScanImage(image.bytes(), dir);
  EXPECT_TRUE(scan->files.empty());
}

TEST(Dispatch, IconDirectoryGivesTheIconsLength) {
  TempDir dir;
  Image image(10);
  // Two entries of 300 and 200 bytes: 6 + 32 + 500 bytes.
  Bytes header = Concat({{0, 0, 1, 0, 2, 0},
                         {16, 16, 0, 0, 1, 0, 32, 0},
                         Le32(300),
                         Le32(38),
                         {32, 32, 0, 0, 1, 0, 32, 0},
                         Le32(200),
                         Le32(338)});
  image.Fill(2, 2, 0x10).Put(2, header);
  auto scan = ScanImage(image.bytes(), dir);
  ASSERT_EQ(scan->files, std::vector<std::string>{"KES00001.ICO"});
  EXPECT_EQ(scan->File("KES00001.ICO").size(), 538u);
}

// Images need not follow the directory back to back: the icon ends where its last image ends.
TEST(Dispatch, IconImagesLaidOutWithGapsEndAtTheLastImage) {
  TempDir dir;
  Image image(10);
  Bytes header = Concat({{0, 0, 1, 0, 2, 0},
                         {0, 0, 0, 0, 1, 0, 32, 0},  // 256 x 256, written as 0 x 0
                         Le32(200),
                         Le32(1024),
                         {16, 16, 0, 0, 1, 0, 32, 0},
                         Le32(300),
                         Le32(38)});
  image.Fill(2, 4, 0x10).Put(2, header);
  auto scan = ScanImage(image.bytes(), dir);
  ASSERT_EQ(scan->files, std::vector<std::string>{"KES00001.ICO"});
  EXPECT_EQ(scan->File("KES00001.ICO").size(), 1224u);
}

TEST(Dispatch, MpegEndedByAnotherHeaderNoLongerSilencesItsGuards) {
  TempDir dir;
  Image image(30);
  image.Fill(2, 1, 0x47)
      .Put(2, Concat({kMpegPack, kMpegSystemHeader, PesHeader(1985)}));  // an MPEG,
  image.Put(3, testing::PaddedGif(200));                                 // ended by a GIF
  image.Put(10, ExifJpeg(300));                                          // a camera JPEG later
  auto scan = ScanImage(image.bytes(), dir);
  EXPECT_EQ(scan->files, (std::vector<std::string>{"KES00001.GIF", "KES00001.JPG"}));
}

TEST(Dispatch, AudioFramesStartAnMp3OnlyWhereNoGuardingFileIsOpen) {
  TempDir dir;
  Image image(40);
  // Frames inside an MPEG packet (sector 3) and inside a WAV's data (sector 13).
  image.Fill(2, 5, 0x47)
      .Put(2, Concat({kMpegPack, kMpegSystemHeader, PesHeader(2015)}))
      .Put(3, Mp3Frames());
  image.Put(6, Concat({kMpegPack, PesHeader(400)}));
  image.Fill(12, 7, 0x33).Put(12, WaveChunks(3492));
  image.Put(13, Mp3Frames());
  // The same frames where no file is open start an MP3.
  image.Put(30, Mp3Frames());
  auto scan = ScanImage(image.bytes(), dir);
  ASSERT_EQ(scan->files,
            (std::vector<std::string>{"KES00001.MP3", "KES00001.MPG", "KES00001.WAV"}));
  EXPECT_EQ(scan->File("KES00001.MPG"), image.Slice(2 * kSector, 4 * kSector + 418));
  EXPECT_EQ(scan->File("KES00001.WAV"), image.Slice(12 * kSector, 3500));
  EXPECT_EQ(scan->File("KES00001.MP3"), Mp3Frames());
}

// FF D8 without a marker after it is compressed data, not a JPEG: the PNG around it stays whole.
TEST(Dispatch, StartOfImageBytesInsideAPngStartNothing) {
  TempDir dir;
  Bytes png = testing::ReadFixtureSample("picture.png");
  ASSERT_GT(png.size(), 40u);
  // A private chunk of 3000 bytes after the header, whose data reaches sector starts.
  Bytes chunk = Concat({Be32(3000), Text("prVt"), Bytes(3000, 0x5A), Be32(0)});
  chunk[512 - 33] = 0xFF;  // the chunk's data at the file's second sector start
  chunk[512 - 33 + 1] = 0xD8;
  chunk[512 - 33 + 2] = 0x63;
  png.insert(png.begin() + 33, chunk.begin(), chunk.end());
  Image image(20);
  image.Put(2, png);
  auto scan = ScanImage(image.bytes(), dir);
  ASSERT_EQ(scan->files, std::vector<std::string>{"KES00001.PNG"});
  EXPECT_EQ(scan->File("KES00001.PNG"), png);
}

// Every file below `folder` (recursively), unpacked where it is gzip.
std::vector<std::pair<std::string, Bytes>> FilesBelow(const std::string& folder) {
  std::vector<std::pair<std::string, Bytes>> files;
  if (folder.empty() || !std::filesystem::is_directory(folder)) return files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    const std::string path = entry.path().string();
    const bool packed = entry.path().extension() == ".gz";
    files.emplace_back(path, packed ? testing::StructuredSample(entry.path().filename().string())
                                    : testing::ReadFileBytes(path));
  }
  return files;
}

// Rows that match `in` but that the first look would not try.
uint64_t RowsMissed(const CarveEngine& engine, const SectorInput& in, uint64_t* matched) {
  const uint64_t matching = RowsMatchingSector(engine, in);
  *matched |= matching;
  return matching & ~RowsTriedOnSector(in);
}

TEST(Dispatch, TheFirstLookAtASectorLetsEveryMatchingHeaderThrough) {
  std::vector<std::pair<std::string, Bytes>> files;
  for (const char* folder : {"samples", "structured", "iso_media"}) {
    auto more = FilesBelow(std::string(KESTREL_SOURCE_DIR) + "/tests/fixtures/" + folder);
    files.insert(files.end(), more.begin(), more.end());
  }
  auto shared = FilesBelow(testing::SamplesDir());
  files.insert(files.end(), shared.begin(), shared.end());
  uint64_t matched = 0;
  for (const auto& [path, bytes] : files) {
    testing::CarveHarness harness(bytes);
    const testing::SectorFeeder feeder(bytes);
    for (uint64_t sector = 0; sector < feeder.sector_count(); ++sector) {
      EXPECT_EQ(RowsMissed(harness.engine, feeder.At(sector), &matched), 0u)
          << path << " sector " << sector;
    }
  }
  // The text signatures wherever a header search reaches, in a sector of other bytes.
  const std::vector<std::string> texts = {"FUJIFILMCCD-RAW", "MS_VOICE", "MSGL", "FOVb",
                                          "\xFF\xD8\xFF\xE1\x38\x45\x45\x78\x69\x66"};
  for (const std::string& text : texts) {
    for (size_t offset : {size_t{0}, size_t{1}, size_t{15}, size_t{31}, size_t{33}, size_t{100},
                          172 - text.size()}) {
      Image image(2);
      image.Fill(0, 2, 'x').Put(0, Text(text), offset);
      testing::CarveHarness harness(image.bytes());
      uint64_t here = 0;
      EXPECT_EQ(RowsMissed(harness.engine, testing::SectorFeeder(image.bytes()).At(0), &here), 0u)
          << text << " at " << offset;
      matched |= here;
      if (text != "FUJIFILMCCD-RAW" && text != "MSGL") {
        EXPECT_NE(here, 0u) << text << " at " << offset;
      }
    }
  }
  // Not a vacuous check: the samples and texts start most rows.
  EXPECT_GE(std::popcount(matched), 30) << std::hex << matched;
}

}  // namespace
}  // namespace kestrel
