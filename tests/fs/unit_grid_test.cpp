// The allocation units of volumes made by the real tools, as each tool reports its own layout:
// a fragmented file's pieces start at these units.
#include "fs/unit_grid.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/byte_source.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

using testing::TempDir;

// The number after `label` in `text`; -1 when it is not there.
long long NumberAfter(const std::string& text, const std::string& label) {
  const size_t at = text.find(label);
  if (at == std::string::npos) return -1;
  return std::stoll(text.substr(text.find_first_of("0123456789", at + label.size())));
}

std::optional<UnitGrid> GridOf(const std::string& path) {
  auto source = FileByteSource::Open(path);
  return source ? VolumeUnitGrid(*source) : std::nullopt;
}

TEST(UnitGrid, FatClustersStartAtTheDataArea) {
  if (!testing::HaveTool("mkfs.fat") || !testing::HaveTool("fsck.fat")) {
    GTEST_SKIP() << "dosfstools is not installed";
  }
  TempDir dir;
  const std::string image = dir / "fat.img";
  ASSERT_EQ(testing::RunCommand("truncate -s 32M " + image + " && mkfs.fat -F 12 -s 32 " + image +
                                " >/dev/null"),
            0);
  std::string report;
  testing::RunCommand("fsck.fat -v -n " + image + " 2>/dev/null", &report);
  const std::optional<UnitGrid> grid = GridOf(image);
  ASSERT_TRUE(grid.has_value());
  EXPECT_EQ(grid->unit_sectors, 32u);
  EXPECT_EQ(static_cast<long long>(grid->anchor) * 512,
            NumberAfter(report, "Data area starts at byte"));
}

TEST(UnitGrid, ExfatClustersStartAtTheClusterHeap) {
  if (!testing::HaveTool("mkfs.exfat") || !testing::HaveTool("dump.exfat")) {
    GTEST_SKIP() << "exfatprogs is not installed";
  }
  TempDir dir;
  const std::string image = dir / "exfat.img";
  ASSERT_EQ(testing::RunCommand("truncate -s 64M " + image + " && mkfs.exfat -c 32K " + image +
                                " >/dev/null 2>&1"),
            0);
  std::string report;
  testing::RunCommand("dump.exfat " + image + " 2>/dev/null", &report);
  const std::optional<UnitGrid> grid = GridOf(image);
  ASSERT_TRUE(grid.has_value());
  EXPECT_EQ(grid->unit_sectors, 64u);
  EXPECT_EQ(static_cast<long long>(grid->anchor), NumberAfter(report, "Cluster Heap Offset"));
}

TEST(UnitGrid, NtfsClustersStartAtTheVolume) {
  if (!testing::HaveTool("mkntfs")) GTEST_SKIP() << "ntfs-3g is not installed";
  TempDir dir;
  const std::string image = dir / "ntfs.img";
  ASSERT_EQ(testing::RunCommand("truncate -s 32M " + image + " && mkntfs -F -Q -q -c 8192 " +
                                image + " >/dev/null 2>&1"),
            0);
  const std::optional<UnitGrid> grid = GridOf(image);
  ASSERT_TRUE(grid.has_value());
  EXPECT_EQ(grid->anchor, 0u);
  EXPECT_EQ(grid->unit_sectors, 16u);
}

TEST(UnitGrid, ARawImageHasNone) {
  TempDir dir;
  const std::string image = dir / "raw.img";
  testing::WriteFileBytes(image, std::vector<uint8_t>(64 * 1024, 0x5A));
  EXPECT_FALSE(GridOf(image).has_value());
}

}  // namespace
}  // namespace kestrel
