#include "platform/block_devices.h"

#include <gtest/gtest.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "support/fake_sys_block.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using testing::FakeSysBlock;
using testing::Put;

TEST(BlockDevicesTest, ListsReadableDisksWithModelsAndPartitions) {
  FakeSysBlock sys;
  sys.AddDisk("sdb", 60000, "", "Card Reader", true);
  sys.AddDisk("sda", 4096, "ATA     ", "KESTREL TEST DISK   ", false);
  sys.AddPartition("sda", "sda5", 5, 3100, 500);
  sys.AddPartition("sda", "sda1", 1, 2048, 1000);
  sys.AddPartition("sda", "sda2", 2, 3048, 2);  // extended-partition stub
  sys.AddDisk("sr0", 2000, "HL-DT-ST", "DVD", true);
  sys.AddDisk("ram0", 8192, "", "", false);
  sys.AddDisk("zram0", 8192, "", "", false);
  sys.AddDisk("loop0", 0, "", "", false);  // not attached
  sys.AddDisk("loop1", 2048, "", "", false);
  Put(fs::path(sys.sys()) / "loop1/loop/backing_file", "/images/card.img");
  sys.AddDisk("vdz", 2048, "", "", false);                         // no model text
  sys.AddDisk("sdc", 2048, "ATA", "Gone", false, /*node=*/false);  // cannot be opened
  sys.AddDisk("sdd", 0, "Generic", "Empty Reader", true);          // no medium

  std::vector<std::string> unreadable;
  std::vector<BlockDisk> disks = ListBlockDisks(sys.sys(), sys.dev(), &unreadable);
  // Only a disk that exists but does not open counts as unreadable.
  EXPECT_EQ(unreadable, std::vector<std::string>{sys.dev() + "/sdc"});
  ASSERT_EQ(disks.size(), 3u);
  EXPECT_EQ(disks[0].name, "loop1");
  EXPECT_EQ(disks[0].model, "card.img");
  EXPECT_EQ(disks[1].name, "sda");
  EXPECT_EQ(disks[1].node, sys.dev() + "/sda");
  EXPECT_EQ(disks[1].model, "ATA KESTREL TEST DISK");
  EXPECT_EQ(disks[1].sectors, 4096u);
  EXPECT_FALSE(disks[1].removable);
  ASSERT_EQ(disks[1].partitions.size(), 2u);
  EXPECT_EQ(disks[1].partitions[0].number, 1);
  EXPECT_EQ(disks[1].partitions[0].node, sys.dev() + "/sda1");
  EXPECT_EQ(disks[1].partitions[0].start_sector, 2048u);
  EXPECT_EQ(disks[1].partitions[0].sectors, 1000u);
  EXPECT_EQ(disks[1].partitions[1].number, 5);
  EXPECT_EQ(disks[2].model, "Card Reader");
  EXPECT_TRUE(disks[2].removable);
  EXPECT_TRUE(disks[2].partitions.empty());
}

TEST(BlockDevicesTest, FindsTheDevicesBeneathAStackAndLoopBackingFiles) {
  testing::TempDir dir;
  fs::path devices = fs::path(dir.path()) / "devices/virtual/block";
  fs::path links = fs::path(dir.path()) / "dev/block";
  fs::create_directories(links);
  // loop3 backed by an image, its partition loop3p1, and dm-0 built on that partition.
  Put(devices / "loop3/dev", "7:3");
  Put(devices / "loop3/loop/backing_file", "/srv/disk.img");
  Put(devices / "loop3/loop3p1/dev", "259:9");
  Put(devices / "loop3/loop3p1/partition", "1");
  Put(devices / "dm-0/dev", "253:0");
  fs::create_directories(devices / "dm-0/slaves");
  fs::create_directory_symlink("../../loop3/loop3p1", devices / "dm-0/slaves/loop3p1");
  fs::create_directory_symlink("../../devices/virtual/block/loop3", links / "7:3");
  fs::create_directory_symlink("../../devices/virtual/block/loop3/loop3p1", links / "259:9");
  fs::create_directory_symlink("../../devices/virtual/block/dm-0", links / "253:0");

  std::vector<dev_t> under = UnderlyingBlockDevices(dir.path(), makedev(253, 0));
  std::sort(under.begin(), under.end());
  std::vector<dev_t> expected = {makedev(7, 3), makedev(253, 0), makedev(259, 9)};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(under, expected);
  EXPECT_EQ(UnderlyingBlockDevices(dir.path(), makedev(9, 9)), std::vector<dev_t>{makedev(9, 9)});

  EXPECT_EQ(LoopBackingFile(dir.path(), makedev(7, 3)), "/srv/disk.img");
  EXPECT_EQ(LoopBackingFile(dir.path(), makedev(259, 9)), "/srv/disk.img");
  EXPECT_EQ(LoopBackingFile(dir.path(), makedev(253, 0)), "");
  EXPECT_EQ(LoopBackingFile(dir.path(), makedev(9, 9)), "");
}

}  // namespace
}  // namespace kestrel
