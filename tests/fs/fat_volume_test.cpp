#include "fs/fat/fat_volume.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "sources/scan_source.h"
#include "support/fat_image.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

using testing::FatImage;
using testing::TempDir;

struct BootFields {
  uint16_t bytes_per_sector = 512;
  uint8_t sectors_per_cluster = 1;
  uint16_t reserved = 1;
  uint8_t fats = 1;
  uint16_t root_entries = 0;
  uint32_t total = 0;
  uint32_t fat_size = 0;
  uint32_t root_cluster = 2;
};

void Put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  Put16(p, v);
  Put16(p + 2, v >> 16);
}

// A boot sector with the 32-bit total and FAT size fields (as FAT32 volumes carry them).
std::array<uint8_t, 512> BootSector(const BootFields& f) {
  std::array<uint8_t, 512> s{};
  Put16(&s[11], f.bytes_per_sector);
  s[13] = f.sectors_per_cluster;
  Put16(&s[14], f.reserved);
  s[16] = f.fats;
  Put16(&s[17], f.root_entries);
  Put32(&s[32], f.total);
  Put32(&s[36], f.fat_size);
  Put32(&s[44], f.root_cluster);
  s[510] = 0x55;
  s[511] = 0xAA;
  return s;
}

// A volume of exactly `clusters` data clusters of one sector each.
FatVolumeInfo ParseWithClusters(uint32_t clusters) {
  BootFields f;
  f.fat_size = 600;
  f.total = f.reserved + f.fat_size + clusters;
  FatVolumeInfo info;
  EXPECT_TRUE(ParseFatBootSector(BootSector(f).data(), &info));
  return info;
}

TEST(FatBootSectorTest, TypeFollowsTheClusterCountThresholds) {
  EXPECT_EQ(ParseWithClusters(4084).fat_type, FatType::kFat12);
  EXPECT_EQ(ParseWithClusters(4085).fat_type, FatType::kFat16);
  EXPECT_EQ(ParseWithClusters(65524).fat_type, FatType::kFat16);
  EXPECT_EQ(ParseWithClusters(65525).fat_type, FatType::kFat32);
  EXPECT_EQ(ParseWithClusters(65525).cluster_count, 65525u);
}

TEST(FatBootSectorTest, RootRegionSizeSetsTheDataStart) {
  for (auto [entries, sectors] : {std::pair{512, 32}, std::pair{224, 14}}) {
    BootFields f;
    f.sectors_per_cluster = 4;
    f.reserved = 4;
    f.fats = 2;
    f.root_entries = static_cast<uint16_t>(entries);
    f.fat_size = 40;
    f.total = 40960;
    FatVolumeInfo info;
    ASSERT_TRUE(ParseFatBootSector(BootSector(f).data(), &info));
    EXPECT_EQ(info.fat_type, FatType::kFat16);
    EXPECT_EQ(info.root_dir_start_sector, 4u + 2 * 40);
    EXPECT_EQ(info.data_start_sector - info.root_dir_start_sector, static_cast<uint64_t>(sectors));
    EXPECT_EQ(info.ClusterFirstSector(3), info.data_start_sector + 4);
  }
}

TEST(FatBootSectorTest, UnusableBootSectorsAreRefused) {
  BootFields good;
  good.fat_size = 600;
  good.total = 70000;
  FatVolumeInfo info;
  ASSERT_TRUE(ParseFatBootSector(BootSector(good).data(), &info));

  BootFields big_sectors = good;
  big_sectors.bytes_per_sector = 4096;
  EXPECT_FALSE(ParseFatBootSector(BootSector(big_sectors).data(), &info));

  BootFields no_cluster_size = good;
  no_cluster_size.sectors_per_cluster = 0;
  EXPECT_FALSE(ParseFatBootSector(BootSector(no_cluster_size).data(), &info));

  // FATs larger than the volume: no wrap-around into billions of clusters.
  BootFields oversized_fat = good;
  oversized_fat.fat_size = 0x7FFFFFFF;
  EXPECT_FALSE(ParseFatBootSector(BootSector(oversized_fat).data(), &info));

  auto unsigned_sector = BootSector(good);
  unsigned_sector[511] = 0x00;
  EXPECT_FALSE(ParseFatBootSector(unsigned_sector.data(), &info));
}

TEST(FatBootSectorTest, NtfsBootSectorPassesIdentificationButIsNoUsableFat) {
  // NTFS leaves the FAT fields 0; the volume is routed by its name, not refused here.
  BootFields ntfs;
  ntfs.sectors_per_cluster = 8;
  ntfs.reserved = 0;
  ntfs.fats = 0;
  FatVolumeInfo info;
  ASSERT_TRUE(ParseFatBootSector(BootSector(ntfs).data(), &info));
  EXPECT_FALSE(FatGeometryUsable(info));
}

class FatImageVolumeTest : public ::testing::Test {
 protected:
  FatVolumeInfo Identify(int bits, uint64_t kib, int spc = 0) {
    std::string why;
    auto image =
        FatImage::Create(dir_ / ("v" + std::to_string(bits) + ".img"), bits, kib, spc, &why);
    if (!image) {
      ADD_FAILURE() << why;
      return {};
    }
    auto source = FileByteSource::Open(image->path());
    FatVolumeInfo info;
    EXPECT_TRUE(IdentifyFatVolume(*source, &info));
    return info;
  }
  TempDir dir_;
};

TEST_F(FatImageVolumeTest, VolumesMadeByMkfsAreIdentified) {
  if (!testing::HaveFatTools()) GTEST_SKIP() << "mkfs.fat or mtools is not installed";
  EXPECT_EQ(Identify(12, 1440).fat_type, FatType::kFat12);
  FatVolumeInfo fat16 = Identify(16, 20480);
  EXPECT_EQ(fat16.fat_type, FatType::kFat16);
  EXPECT_EQ(fat16.root_dir_sectors, 32u);
  FatVolumeInfo fat32 = Identify(32, 40000, 1);
  EXPECT_EQ(fat32.fat_type, FatType::kFat32);
  EXPECT_EQ(fat32.root_cluster, 2u);
  EXPECT_TRUE(FatGeometryUsable(fat32));
}

// FAT16 and FAT32 chains patched in memory.
class FatChainTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::HaveFatTools()) GTEST_SKIP() << "mkfs.fat or mtools is not installed";
  }
  std::unique_ptr<FatVolume> Open(int bits, uint64_t kib, int spc) {
    std::string why;
    auto image = FatImage::Create(dir_ / "chain.img", bits, kib, spc, &why);
    if (!image) {
      ADD_FAILURE() << why;
      return nullptr;
    }
    memory_ = std::make_unique<MemorySource>(testing::ReadFileBytes(image->path()));
    EXPECT_TRUE(IdentifyFatVolume(*memory_, &info_));
    return std::make_unique<FatVolume>(*memory_, info_);
  }
  void SetEntry(uint32_t cluster, uint32_t value) {
    uint8_t* fat = memory_->bytes().data() + info_.fat_start_sector * 512;
    if (info_.fat_type == FatType::kFat32) {
      Put32(fat + cluster * 4, value);
    } else {
      Put16(fat + cluster * 2, value);
    }
  }
  TempDir dir_;
  std::unique_ptr<MemorySource> memory_;
  FatVolumeInfo info_;
};

TEST_F(FatChainTest, Fat32EndMarksAndDamagedEntriesEndTheChain) {
  auto volume = Open(32, 40000, 1);
  ASSERT_TRUE(volume);
  // Upper four bits are not part of a FAT32 entry.
  SetEntry(10, 0xF000000B);
  SetEntry(11, 0x0FFFFFF9);
  EXPECT_EQ(volume->Chain(10, 100), (std::vector<uint32_t>{10, 11}));
  // mkfs.fat marks the root's single cluster with 0x0FFFFFF8, not 0x0FFFFFFF.
  EXPECT_EQ(volume->Chain(info_.root_cluster, 100), std::vector<uint32_t>{2});
  for (uint32_t end : {0x0FFFFFF7u, 0x00000000u, 0x00000001u, info_.LastCluster() + 1}) {
    SetEntry(11, end);
    FatVolume fresh(*memory_, info_);  // FAT sectors are cached per volume
    EXPECT_EQ(fresh.Chain(10, 100), (std::vector<uint32_t>{10, 11})) << std::hex << end;
  }
  SetEntry(11, info_.LastCluster());
  FatVolume fresh(*memory_, info_);
  EXPECT_EQ(fresh.Chain(10, 100), (std::vector<uint32_t>{10, 11, info_.LastCluster()}));
}

TEST_F(FatChainTest, LoopingChainsEndAndATruncatedImageLimitsTheReadableClusters) {
  auto volume = Open(16, 20480, 4);
  ASSERT_TRUE(volume);
  SetEntry(5, 6);
  SetEntry(6, 7);
  SetEntry(7, 5);
  SetEntry(8, 8);
  SetEntry(9, 10);
  SetEntry(10, 0xFFF8);
  EXPECT_EQ(volume->Chain(5, 1000), (std::vector<uint32_t>{5, 6, 7}));
  EXPECT_EQ(volume->Chain(8, 1000), std::vector<uint32_t>{8});
  EXPECT_EQ(volume->Chain(9, 1000), (std::vector<uint32_t>{9, 10}));
  EXPECT_EQ(volume->Chain(9, 1), std::vector<uint32_t>{9});

  // A truncated image limits the readable clusters.
  EXPECT_EQ(volume->LastReadableCluster(), info_.LastCluster());
  memory_->bytes().resize(static_cast<size_t>((info_.ClusterFirstSector(100) + 1) * 512));
  EXPECT_EQ(volume->LastReadableCluster(), 100u);
  std::vector<uint8_t> cluster(info_.BytesPerCluster());
  EXPECT_FALSE(volume->ReadCluster(100, cluster.data()));  // only its first sector is there
  EXPECT_FALSE(volume->ReadCluster(0, cluster.data()));
  EXPECT_FALSE(volume->ReadCluster(info_.LastCluster() + 1, cluster.data()));
}

}  // namespace
}  // namespace kestrel
