#include "platform/mount_info.h"

#include <gtest/gtest.h>
#include <sys/sysmacros.h>

namespace kestrel {
namespace {

const char* const kMountInfo =
    "22 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw\n"
    "40 22 8:17 / /media/usb\\040stick rw,nosuid master:7 shared:9 - vfat /dev/sdb1 rw\n"
    "41 22 0:45 / /media/usb\\040stick/inner rw - tmpfs tmpfs rw\n"
    "42 22 7:0 / /mnt/a rw - vfat /dev/loop0 rw\n"
    "43 22 7:1 / /mnt/a rw - vfat /dev/loop1 rw\n"
    "garbage line\n"
    "44 22 8:3 / /mnt/ab rw - ntfs3 /dev/sda3\n";  // no super options: still complete

TEST(MountInfoTest, ParsesFieldsAndDecodesEscapes) {
  std::vector<MountEntry> mounts = ParseMountInfo(kMountInfo);
  ASSERT_EQ(mounts.size(), 6u);
  EXPECT_EQ(mounts[1].device, makedev(8, 17));
  EXPECT_EQ(mounts[1].mount_point, "/media/usb stick");
  EXPECT_EQ(mounts[1].fs_type, "vfat");
  EXPECT_EQ(mounts[1].source, "/dev/sdb1");
  EXPECT_EQ(mounts[5].source, "/dev/sda3");
}

TEST(MountInfoTest, TheLongestMountPointPrefixHoldsAPath) {
  std::vector<MountEntry> mounts = ParseMountInfo(kMountInfo);
  auto source_of = [&](const std::string& path) {
    std::optional<MountEntry> mount = FindMountHolding(mounts, path);
    return mount ? mount->source : std::string("none");
  };
  EXPECT_EQ(source_of("/home/user"), "/dev/sda2");
  EXPECT_EQ(source_of("/media/usb stick"), "/dev/sdb1");
  EXPECT_EQ(source_of("/media/usb stick/DCIM"), "/dev/sdb1");
  EXPECT_EQ(source_of("/media/usb stick/inner/x"), "tmpfs");
  EXPECT_EQ(source_of("/media/usb sticker"), "/dev/sda2");  // a prefix of the name is not a folder
  EXPECT_EQ(source_of("/mnt/a/x"), "/dev/loop1");           // the later mount covers the earlier
  EXPECT_EQ(source_of("/mnt/ab"), "/dev/sda3");
  EXPECT_FALSE(FindMountHolding(ParseMountInfo(""), "/x"));
}

}  // namespace
}  // namespace kestrel
