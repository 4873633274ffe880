// The image builder that the raw-scan integration tests lay their samples out with.

#include "support/image_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>

#include "support/fixture_samples.h"
#include "support/signature_probe.h"
#include "support/temp_dir.h"

namespace kestrel::testing {
namespace {

constexpr size_t kSector = ImageBuilder::kSectorBytes;

std::vector<uint8_t> Pattern(size_t n, uint8_t first) {
  std::vector<uint8_t> bytes(n);
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(first + i * 7);
  return bytes;
}

std::span<const uint8_t> SectorOf(const ImageBuilder& image, uint64_t sector) {
  return std::span<const uint8_t>(image.bytes()).subspan(sector * kSector, kSector);
}

bool AllZero(std::span<const uint8_t> bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; });
}

TEST(ImageBuilder, PlacesFilesAtSectorBoundariesAndRecordsThem) {
  ImageBuilder image;
  image.AddZeros(3);
  std::vector<uint8_t> first = Pattern(700, 1), second = Pattern(512, 2), third = Pattern(1, 3);
  PlacedFile a = image.AddFile(first, "a");
  image.AddRandom(2, 42);
  PlacedFile b = image.AddFile(second, "b");
  PlacedFile c = image.AddFile(third, "c");

  EXPECT_EQ(a.start_sector, 3u);
  EXPECT_EQ(a.end_sector(), 5u);
  EXPECT_EQ(b.start_sector, 7u);
  EXPECT_EQ(b.end_sector(), 8u);
  EXPECT_EQ(c.start_sector, 8u);
  EXPECT_EQ(image.sector_count(), 9u);
  ASSERT_EQ(image.files().size(), 3u);
  EXPECT_EQ(image.files()[2].label, "c");
  EXPECT_EQ(image.files()[0].byte_count, 700u);

  const auto& bytes = image.bytes();
  EXPECT_TRUE(std::equal(first.begin(), first.end(), bytes.begin() + 3 * kSector));
  EXPECT_TRUE(std::equal(second.begin(), second.end(), bytes.begin() + 7 * kSector));
  EXPECT_EQ(bytes[8 * kSector], 3);
  EXPECT_TRUE(AllZero(std::span(bytes).subspan(3 * kSector + 700, 2 * kSector - 700)));
  EXPECT_TRUE(AllZero(std::span(bytes).subspan(8 * kSector + 1, kSector - 1)));
}

TEST(ImageBuilder, RandomTailFillsOnlyTheRestOfTheLastSector) {
  ImageBuilder image(7);
  std::vector<uint8_t> file = Pattern(100, 9);
  image.AddFile(file, "tail", Filler::kRandom);
  image.AddZeros(1);
  auto tail = std::span(image.bytes()).subspan(100, kSector - 100);
  EXPECT_FALSE(AllZero(tail));
  EXPECT_FALSE(std::equal(ImageBuilder::kRandomSectorMark.begin(),
                          ImageBuilder::kRandomSectorMark.end(), tail.begin()));
  EXPECT_TRUE(AllZero(SectorOf(image, 1)));

  ImageBuilder again(7);
  again.AddFile(file, "tail", Filler::kRandom);
  again.AddZeros(1);
  EXPECT_EQ(again.bytes(), image.bytes());
}

TEST(ImageBuilder, RandomSectorsAreRepeatableAndStartNoFile) {
  for (Filler kind : {Filler::kRandom, Filler::kRandomNoEndMarkers}) {
    ImageBuilder image, same, other;
    image.AddRandom(4000, 5, kind);
    same.AddRandom(4000, 5, kind);
    other.AddRandom(4000, 6, kind);
    EXPECT_EQ(image.bytes(), same.bytes());
    EXPECT_NE(image.bytes(), other.bytes());
    for (uint64_t s = 0; s < image.sector_count(); ++s) {
      auto sector = SectorOf(image, s);
      ASSERT_TRUE(std::equal(ImageBuilder::kRandomSectorMark.begin(),
                             ImageBuilder::kRandomSectorMark.end(), sector.begin()));
      ASSERT_EQ(MatchingSignatureRows(sector), std::vector<int>{}) << "sector " << s;
    }
  }
}

TEST(ImageBuilder, NoEndMarkerFillerHoldsOnlyHighBytes) {
  ImageBuilder image;
  image.AddRandom(64, 11, Filler::kRandomNoEndMarkers);
  image.AddFile(Pattern(3, 0x41), "x", Filler::kRandomNoEndMarkers);
  const auto& bytes = image.bytes();
  for (size_t i = 0; i < bytes.size(); ++i) {
    bool mark = i < 64 * kSector && i % kSector < ImageBuilder::kRandomSectorMark.size();
    bool file = i >= 64 * kSector && i < 64 * kSector + 3;
    if (mark || file) continue;
    ASSERT_GE(bytes[i], 0x80) << i;
    ASSERT_LE(bytes[i], 0xFE) << i;
  }
  // Any-byte filler does carry end markers now and then: the reason for the other kind.
  ImageBuilder any;
  any.AddRandom(256, 11, Filler::kRandom);
  std::string_view text(reinterpret_cast<const char*>(any.bytes().data()), any.bytes().size());
  EXPECT_NE(text.find("\xFF\xD9"), std::string_view::npos);
}

TEST(ImageBuilder, WritesTheImageAndLoadsSamples) {
  ImageBuilder image;
  PlacedFile placed = image.AddSample("song.mid");
  image.AddZeros(64);
  EXPECT_EQ(placed.label, "song.mid");
  EXPECT_EQ(placed.byte_count, ReadFixtureSample("song.mid").size());

  TempDir dir;
  image.WriteTo(dir / "disk.img");
  EXPECT_EQ(ReadFileBytes(dir / "disk.img"), image.bytes());
  EXPECT_THROW(image.WriteTo(dir / "missing/disk.img"), std::runtime_error);
  EXPECT_THROW(image.AddSample("no-such-sample.bin"), std::runtime_error);
}

}  // namespace
}  // namespace kestrel::testing
