// Scanning only the free space: the maps of FAT12/16/32 (entry 0) and NTFS ($Bitmap bit 0) on
// volumes made by mkfs.fat/mtools and mkntfs/libntfs-3g, and raw scans with --free-space that
// bring back the deleted files and none of the live ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "fs/fat/fat_volume.h"
#include "fs/free_space.h"
#include "platform/testing/source_doubles.h"
#include "run/messages.h"
#include "support/fat_image.h"
#include "support/fixture_samples.h"
#include "support/ntfs_image.h"
#include "support/param_names.h"
#include "support/scan_harness.h"
#include "support/temp_dir.h"

#ifndef KESTREL_NTFS_TOOL_PATH
#define KESTREL_NTFS_TOOL_PATH ""
#endif

namespace kestrel {
namespace {

using testing::ReadFileBytes;
using testing::TempDir;
using Bytes = std::vector<uint8_t>;

// The first sector of the image that holds `content`'s first 512 bytes.
uint64_t SectorOf(const Bytes& image, const Bytes& content) {
  const auto at = std::search(image.begin(), image.end(), content.begin(),
                              content.begin() + std::min<size_t>(512, content.size()));
  if (at == image.end()) return UINT64_MAX;
  return static_cast<uint64_t>(at - image.begin()) / 512;
}

// Whether `sector` is free (a sector that is not on the volume is not).
bool IsFree(FreeSpaceMap& map, uint64_t sector) {
  EXPECT_NE(sector, UINT64_MAX) << "content not found on the volume";
  SectorRun run;
  return map.NextRun(sector, &run) && run.first == sector;
}

// Whether a recovered file is `original`, perhaps followed by zeros up to its last sector.
bool Matches(const Bytes& recovered, const Bytes& original) {
  if (recovered.size() < original.size()) return false;
  if (!std::equal(original.begin(), original.end(), recovered.begin())) return false;
  return std::all_of(recovered.begin() + static_cast<ptrdiff_t>(original.size()), recovered.end(),
                     [](uint8_t b) { return b == 0; });
}

// How many of the run's files are `original`.
int CountRecovered(const testing::ScanRun& scan, const Bytes& original) {
  int found = 0;
  for (const std::string& name : scan.files) found += Matches(scan.File(name), original) ? 1 : 0;
  return found;
}

struct Planted {
  Bytes live_png, live_jpg, gone_jpg, gone_pdf, gone_gif;
  void Load() {
    live_png = testing::ReadFixtureSample("picture.png");
    live_jpg = testing::ReadFixtureSample("jfif.jpg");
    gone_jpg = testing::ReadFixtureSample("exif.jpg");
    gone_pdf = testing::ReadFixtureSample("document.pdf");
    gone_gif = testing::ReadFixtureSample("picture.gif");
  }
};

// The map of `source` (holding `bytes`) names `file_system`; the deleted picture lies in the free
// space, the live one and the volume's first sector do not.
std::unique_ptr<FreeSpaceMap> ExpectMapOf(ByteSource& source, const Bytes& bytes,
                                          const std::string& file_system, const Planted& p) {
  std::unique_ptr<FreeSpaceMap> map;
  EXPECT_EQ(OpenFreeSpaceMap(source, &map), FreeSpaceResult::kOk);
  if (!map) return nullptr;
  EXPECT_EQ(map->file_system(), file_system);
  EXPECT_TRUE(IsFree(*map, SectorOf(bytes, p.gone_jpg)));
  EXPECT_FALSE(IsFree(*map, SectorOf(bytes, p.live_png)));
  EXPECT_FALSE(IsFree(*map, 0)) << "the boot sector and file system tables are no free space";
  return map;
}

// A scan with and without --free-space: the free-space scan gives back exactly the deleted files
// and none of the live ones; the whole scan gives back both.
void ExpectOnlyDeletedFilesComeBack(const std::string& image_path, const Planted& p) {
  TempDir dir;
  testing::ScanOptions options;
  options.free_space_only = true;
  auto free_scan = testing::ScanImageFile(image_path, dir, options);
  EXPECT_EQ(free_scan->result.outcome, RunOutcome::kCompleted);
  EXPECT_EQ(CountRecovered(*free_scan, p.gone_jpg), 1);
  EXPECT_EQ(CountRecovered(*free_scan, p.gone_pdf), 1);
  EXPECT_EQ(CountRecovered(*free_scan, p.gone_gif), 1);
  EXPECT_EQ(CountRecovered(*free_scan, p.live_png), 0);
  EXPECT_EQ(CountRecovered(*free_scan, p.live_jpg), 0);

  TempDir whole_dir;
  auto whole = testing::ScanImageFile(image_path, whole_dir);
  EXPECT_EQ(CountRecovered(*whole, p.live_png), 1);
  EXPECT_EQ(CountRecovered(*whole, p.live_jpg), 1);
  EXPECT_EQ(CountRecovered(*whole, p.gone_jpg), 1);
}

class FatFreeSpaceTest : public ::testing::TestWithParam<int> {};

TEST_P(FatFreeSpaceTest, DeletedFilesComeBackAndLiveFilesDoNot) {
  if (!testing::HaveFatTools()) GTEST_SKIP() << "mkfs.fat or mtools is not installed";
  const int bits = GetParam();
  TempDir dir;
  std::string why;
  auto image = testing::FatImage::Create(dir / "card.img", bits, bits == 32 ? 40000 : 4000,
                                         bits == 12 ? 2 : 1, &why);
  ASSERT_TRUE(image) << why;
  Planted p;
  p.Load();
  // Deleted files lie between live ones, so that the free space has gaps.
  ASSERT_TRUE(image->WriteFile("/GONE1.JPG", p.gone_jpg));
  ASSERT_TRUE(image->WriteFile("/LIVE1.PNG", p.live_png));
  ASSERT_TRUE(image->WriteFile("/GONE2.PDF", p.gone_pdf));
  ASSERT_TRUE(image->MakeFolder("/DCIM"));
  ASSERT_TRUE(image->WriteFile("/DCIM/LIVE2.JPG", p.live_jpg));
  ASSERT_TRUE(image->WriteFile("/DCIM/GONE3.GIF", p.gone_gif));
  for (const char* gone : {"/GONE1.JPG", "/GONE2.PDF", "/DCIM/GONE3.GIF"}) {
    ASSERT_TRUE(image->Delete(gone));
  }

  const Bytes bytes = ReadFileBytes(image->path());
  MemorySource source(bytes);
  auto map = ExpectMapOf(source, bytes, "FAT" + std::to_string(bits), p);
  ASSERT_TRUE(map);
  EXPECT_TRUE(IsFree(*map, SectorOf(bytes, p.gone_gif)));
  EXPECT_FALSE(IsFree(*map, SectorOf(bytes, p.live_jpg)));
  // The runs walked one after another add up to the free sectors, in order and apart.
  uint64_t total = 0, previous_end = 0;
  SectorRun run;
  for (uint64_t from = 0; map->NextRun(from, &run); from = run.end()) {
    EXPECT_GT(run.first, previous_end == 0 ? 0 : previous_end - 1);
    EXPECT_LE(run.end(), bytes.size() / 512);
    previous_end = run.end();
    total += run.count;
  }
  EXPECT_EQ(total, map->free_sectors());
  EXPECT_GT(total, 0u);

  ExpectOnlyDeletedFilesComeBack(image->path(), p);
}

INSTANTIATE_TEST_SUITE_P(FatTypes, FatFreeSpaceTest, ::testing::Values(12, 16, 32),
                         testing::FatTypeName);

TEST(NtfsFreeSpace, DeletedFilesComeBackAndLiveFilesDoNot) {
  TempDir dir;
  std::string why;
  auto image = testing::NtfsImage::Create(KESTREL_NTFS_TOOL_PATH, dir / "ntfs.img", 24, &why);
  if (!image) GTEST_SKIP() << why;
  Planted p;
  p.Load();
  ASSERT_TRUE(image->WriteFile("/gone1.jpg", p.gone_jpg));
  ASSERT_TRUE(image->WriteFile("/live1.png", p.live_png));
  ASSERT_TRUE(image->WriteFile("/gone2.pdf", p.gone_pdf));
  ASSERT_TRUE(image->WriteFile("/live2.jpg", p.live_jpg));
  ASSERT_TRUE(image->WriteFile("/gone3.gif", p.gone_gif));
  for (const char* gone : {"/gone1.jpg", "/gone2.pdf", "/gone3.gif"}) {
    ASSERT_TRUE(image->Delete(gone));
  }
  const Bytes bytes = ReadFileBytes(image->path());
  MemorySource source(bytes);
  auto map = ExpectMapOf(source, bytes, "NTFS", p);
  ASSERT_TRUE(map);
  EXPECT_LT(map->free_sectors(), bytes.size() / 512);

  ExpectOnlyDeletedFilesComeBack(image->path(), p);
}

TEST(FreeSpaceRefusals, SourcesWithoutAVolumeOrWithAnUnreadableFat) {
  // No file system at all, and an exFAT name without a volume: refused before any run folder
  // is made.
  Bytes plain(2048 * 512, 0);
  Bytes exfat = plain;
  std::memcpy(exfat.data() + 3, "EXFAT   ", 8);
  exfat[510] = 0x55;
  exfat[511] = 0xAA;
  for (const Bytes* image : {&plain, &exfat}) {
    TempDir dir;
    testing::ScanOptions options;
    options.free_space_only = true;
    auto scan = testing::ScanImage(*image, dir, options);
    EXPECT_EQ(scan->result.outcome, RunOutcome::kRefused);
    EXPECT_EQ(scan->ui.MessageIds(), std::vector<int>{msg::kFreeSpaceNeedsFileSystem});
    EXPECT_TRUE(scan->run_folder.empty());
  }

  if (!testing::HaveFatTools()) GTEST_SKIP() << "mkfs.fat or mtools is not installed";
  TempDir dir;
  std::string why;
  auto image = testing::FatImage::Create(dir / "bad.img", 16, 20480, 4, &why);
  ASSERT_TRUE(image) << why;
  FatVolumeInfo info;
  auto inner = std::make_unique<MemorySource>(ReadFileBytes(image->path()));
  ASSERT_TRUE(IdentifyFatVolume(*inner, &info));
  FaultInjectingSource faulty(std::move(inner));
  faulty.FailSectors(info.fat_start_sector + 3, 1);
  std::unique_ptr<FreeSpaceMap> map;
  EXPECT_EQ(OpenFreeSpaceMap(faulty, &map), FreeSpaceResult::kUnreadable)
      << "a FAT that cannot be read is not taken for a map";
}

TEST(FreeSpaceRuns, ATruncatedVolumeEndsItsRunsAtTheSourcesEnd) {
  if (!testing::HaveFatTools()) GTEST_SKIP() << "mkfs.fat or mtools is not installed";
  TempDir dir;
  std::string why;
  auto image = testing::FatImage::Create(dir / "cut.img", 32, 40000, 1, &why);
  ASSERT_TRUE(image) << why;
  Bytes bytes = ReadFileBytes(image->path());
  bytes.resize(bytes.size() / 2 + 100);  // a partial last sector
  MemorySource source(bytes);
  std::unique_ptr<FreeSpaceMap> map;
  ASSERT_EQ(OpenFreeSpaceMap(source, &map), FreeSpaceResult::kOk);
  SectorRun run, last;
  for (uint64_t from = 0; map->NextRun(from, &run); from = run.end()) last = run;
  EXPECT_LE(last.end(), (bytes.size() + 511) / 512);
  EXPECT_GE(last.end(), bytes.size() / 512 - 8) << "the free space reaches the end";
}

// A source that ends inside a free cluster: the walk over the runs ends there instead of being
// answered, again and again, with an empty run at the source's end.
TEST(FreeSpaceRuns, ASourceEndingInsideAClusterEndsTheWalk) {
  if (!testing::HaveFatTools()) GTEST_SKIP() << "mkfs.fat or mtools is not installed";
  TempDir dir;
  std::string why;
  auto image = testing::FatImage::Create(dir / "floppy.img", 12, 1440, 4, &why);
  ASSERT_TRUE(image) << why;
  Bytes bytes = ReadFileBytes(image->path());
  FatVolumeInfo info;
  ASSERT_TRUE(ParseFatBootSector(bytes.data(), &info));
  // One sector past the start of the tenth data cluster, in the middle of that cluster.
  bytes.resize((info.ClusterFirstSector(11) + 1) * 512);
  MemorySource source(bytes);
  std::unique_ptr<FreeSpaceMap> map;
  ASSERT_EQ(OpenFreeSpaceMap(source, &map), FreeSpaceResult::kOk);
  SectorRun run;
  int runs = 0;
  for (uint64_t from = 0; runs < 100 && map->NextRun(from, &run); from = run.end()) {
    EXPECT_GT(run.count, 0u);
    ++runs;
  }
  EXPECT_LT(runs, 100) << "the walk does not move forward";
  EXPECT_EQ(map->free_sectors(), bytes.size() / 512 - info.ClusterFirstSector(2));
}

}  // namespace
}  // namespace kestrel
