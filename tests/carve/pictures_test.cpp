// Picture carving: where JPEG and GIF files end, also when their markers straddle sectors.
#include <gtest/gtest.h>

#include "carve/pictures.h"
#include "disk/scan_source.h"
#include "platform/byte_source.h"
#include "platform/testing/source_doubles.h"
#include "support/fake_run_ui.h"
#include "support/sector_feeder.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

using testing::FakeRunUi;
using testing::ReadFileBytes;
using testing::SectorFeeder;
using testing::TempDir;

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

class PictureCarving : public ::testing::Test {
 protected:
  PictureCarving() : source_(Bytes{}), run_(ui_), session_(run_, source_) {
    session_.run_folder = dir_.path() + "/";
  }

  void OpenJpeg() {
    ASSERT_TRUE(session_.OpenOutput(kJpg, "JPG"));
    session_.st.jpeg_open = true;
  }

  // Feeds the image's sectors to the JFIF walk as the dispatch and continuation do.
  void WalkJfif(const Bytes& image) {
    OpenJpeg();
    session_.st.jfif_walk = true;
    session_.st.jfif_in_scan = false;
    session_.st.byte_count = static_cast<uint64_t>(image[4] << 8 | image[5]) + 4;
    SectorFeeder(image).FeedAll([&](const SectorInput& in) {
      if (session_.st.open_types != 0) CarveJfif(session_, in);
    });
  }

  void SearchJpeg(const Bytes& image) {
    OpenJpeg();
    session_.st.byte_count = 0;
    bool first = true;
    SectorFeeder(image).FeedAll([&](const SectorInput& in) {
      if (first) {
        CarveJpegToEoi(session_, in);
        first = false;
      } else if (session_.st.open_types != 0) {
        ContinuePicture(session_, in, kJpg);
      }
    });
  }

  TempDir dir_;
  MemorySource source_;
  FakeRunUi ui_;
  RunContext run_;
  CarveSession session_;
};

TEST_F(PictureCarving, JfifEndsAtItsEoiAndIsListedAtOnce) {
  Bytes jpeg = MakeJfif(200, 100);  // SOS and EOI in the first sector
  Bytes image = jpeg;
  image.resize(2048, 0x55);
  WalkJfif(image);
  ASSERT_EQ(ui_.rows.size(), 1u) << "listed before the next sector arrives";
  EXPECT_EQ(ReadFileBytes(ui_.rows[0].full_path), jpeg);
  EXPECT_EQ(session_.st.open_types, 0u);
  EXPECT_EQ(run_.recovered_count, 1u);
}

TEST_F(PictureCarving, JfifSegmentEndingOnTheSectorBoundaryContinuesWithTheNextMarker) {
  Bytes jpeg = MakeJfif(512, 900);  // the segments before the scan end exactly at byte 512
  ASSERT_EQ(jpeg[512], 0xFF);
  ASSERT_EQ(jpeg[513], 0xDA);
  Bytes image = jpeg;
  image.resize(4096, 0);
  WalkJfif(image);
  ASSERT_EQ(ui_.rows.size(), 1u);
  EXPECT_EQ(ReadFileBytes(ui_.rows[0].full_path), jpeg);
}

TEST_F(PictureCarving, JfifWithoutEoiIsNotKept) {
  Bytes jpeg = MakeJfif(300, 2000);
  jpeg.erase(jpeg.end() - 2, jpeg.end());  // no EOI
  WalkJfif(jpeg);
  EXPECT_TRUE(ui_.rows.empty());
  session_.FinishCarvedFile(kJpg);
  EXPECT_TRUE(ui_.rows.empty());
  EXPECT_TRUE(testing::ListFiles(dir_.path()).empty());
}

TEST_F(PictureCarving, EoiStraddlingTwoSectorsIsFoundInTheFirst) {
  Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xDB};
  jpeg.resize(511, 0x20);
  Append(jpeg, {0xFF, 0xD9});  // FF is the last byte of sector 0, D9 the first of sector 1
  Bytes image = jpeg;
  image.resize(1536, 0x33);
  SearchJpeg(image);
  EXPECT_EQ(session_.st.end_offset, 513u);
  session_.FinishCarvedFile(kJpg);
  ASSERT_EQ(ui_.rows.size(), 1u);
  EXPECT_EQ(ReadFileBytes(ui_.rows[0].full_path), jpeg);
}

TEST_F(PictureCarving, ExifJpegEndsAtTheMainEoiNotTheThumbnails) {
  Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xE1};
  jpeg.resize(300, 0x20);
  Append(jpeg, {0xFF, 0xD8, 0x01, 0xFF, 0xD9});  // the thumbnail, in sector 0
  jpeg.resize(1400, 0x21);
  Append(jpeg, {0xFF, 0xD9});  // the main image's end, in sector 2
  Bytes image = jpeg;
  image.resize(3072, 0x44);
  SearchJpeg(image);
  session_.FinishCarvedFile(kJpg);
  ASSERT_EQ(ui_.rows.size(), 1u);
  EXPECT_EQ(ReadFileBytes(ui_.rows[0].full_path), jpeg);
}

TEST_F(PictureCarving, SizeCapEndsAPictureAtItsLastMarker) {
  Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xDB};
  jpeg.resize(1000, 0x20);
  Append(jpeg, {0xFF, 0xD9});
  Bytes image = jpeg;
  image.resize(kPictureSizeCap + 4096, 0x44);  // no further marker: the scan runs into the cap
  SearchJpeg(image);
  ASSERT_EQ(ui_.rows.size(), 1u) << "finished as complete at the cap";
  EXPECT_EQ(ReadFileBytes(ui_.rows[0].full_path), jpeg);
  EXPECT_EQ(session_.st.open_types, 0u);
}

TEST_F(PictureCarving, PictureReachingTheCapWithoutAnyMarkerIsNotKept) {
  // An earlier file's end offset must never cut this one.
  session_.st.end_offset = 700;
  Bytes image = {0xFF, 0xD8, 0xFF, 0xDB};
  image.resize(kPictureSizeCap + 4096, 0x44);
  SearchJpeg(image);
  EXPECT_TRUE(ui_.rows.empty());
  EXPECT_TRUE(testing::ListFiles(dir_.path()).empty());
}

TEST_F(PictureCarving, GifEndsAtBlockTerminatorAndTrailer) {
  Bytes gif = {'G', 'I', 'F', '8', '9', 'a'};
  gif.resize(800, 0x07);
  Append(gif, {0x00, 0x3B});
  Bytes image = gif;
  image.resize(2048, 0x09);
  ASSERT_TRUE(session_.OpenOutput(kGif, "GIF"));
  session_.st.byte_count = 0;
  bool first = true;
  SectorFeeder(image).FeedAll([&](const SectorInput& in) {
    if (first) {
      CarveGifToTrailer(session_, in);
      first = false;
    } else {
      ContinuePicture(session_, in, kGif);
    }
  });
  session_.FinishCarvedFile(kGif);
  ASSERT_EQ(ui_.rows.size(), 1u);
  EXPECT_EQ(ui_.rows[0].name, "KES00001.GIF");
  EXPECT_EQ(ReadFileBytes(ui_.rows[0].full_path), gif);
}

}  // namespace
}  // namespace kestrel
