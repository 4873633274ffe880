#include "sources/drive_enumeration.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/blkid_probe.h"
#include "run/messages.h"
#include "support/disk_images.h"
#include "support/fake_sys_block.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using testing::RunCommand;
using testing::TempDir;

using testing::kPartOneSectors;
using testing::kPartOneStart;
using testing::kPartTwoSectors;
using testing::kPartTwoStart;
constexpr uint64_t kDiskBytes = testing::kTwoPartitionDiskBytes;
constexpr uint64_t kVolumeBytes = 40 << 20;

std::vector<uint8_t> BytesAt(const std::string& path, uint64_t offset, size_t count) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(offset));
  std::vector<uint8_t> bytes(count);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(count));
  if (in.gcount() != static_cast<std::streamsize>(count)) return {};
  return bytes;
}

// Images made with the real tools in a temporary folder.
class DriveEnumerationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"mkfs.fat", "sfdisk", "truncate"}) {
      if (!testing::HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
    }
  }

  // A FAT32 volume image of 40 MiB.
  std::string Fat32Volume(const std::string& name, const std::string& label) {
    EXPECT_TRUE(testing::MakeFatVolume(dir_ / name, 40, "-F 32 -n " + label));
    return dir_ / name;
  }

  // A 64 MiB disk image with an MBR of two partitions: FAT16 "PARTONE", FAT12 "PARTTWO".
  std::string TwoPartitionDisk(const std::string& name) {
    EXPECT_TRUE(testing::MakeTwoPartitionDisk(dir_ / name, "PARTTWO"));
    return dir_ / name;
  }

  DeviceMap MapOf(const std::string& text) {
    std::string map_path = dir_ / "devices.conf";
    std::ofstream(map_path, std::ios::trunc) << text;
    DeviceMapOptions options;
    options.block_devices = false;
    options.map_path = map_path;
    options.map_path_explicit = true;
    return BuildDeviceMap(options);
  }

  static std::string Letters(const DeviceMap& map) {
    std::string letters;
    for (const VolumeEntry& volume : map.volumes) letters += volume.letter;
    return letters;
  }

  static bool AnyWarningContains(const DeviceMap& map, const std::string& text) {
    for (const std::string& warning : map.warnings) {
      if (warning.find(text) != std::string::npos) return true;
    }
    return false;
  }

  TempDir dir_;
};

TEST_F(DriveEnumerationTest, ImagesBecomeLetteredVolumesAndADiskReadThroughTheirOffsets) {
  std::string volume_image = Fat32Volume("vol.img", "KESTRELVOL");
  std::string disk_image = TwoPartitionDisk("sd.img");
  DeviceMap map = MapOf("# test images\nF: vol.img removable\n\ndisk sd.img\n");
  EXPECT_TRUE(map.warnings.empty()) << map.warnings.front();
  ASSERT_EQ(Letters(map), "CDF");

  const VolumeEntry& c = map.volumes[0];
  EXPECT_EQ(c.label, "PARTONE");
  EXPECT_EQ(c.fs_name, "FAT16");
  EXPECT_EQ(c.device, disk_image);
  EXPECT_EQ(c.offset, kPartOneStart * 512);
  EXPECT_EQ(c.bytes, kPartOneSectors * 512);
  EXPECT_EQ(c.disk_ordinal, 0);
  EXPECT_FALSE(c.removable);
  EXPECT_TRUE(c.in_image);

  const VolumeEntry& d = map.volumes[1];
  EXPECT_EQ(d.label, "PARTTWO");
  EXPECT_EQ(d.fs_name, "FAT12");
  EXPECT_EQ(d.offset, kPartTwoStart * 512);
  EXPECT_EQ(d.bytes, kPartTwoSectors * 512);
  EXPECT_EQ(d.disk_ordinal, 0);

  const VolumeEntry& f = map.volumes[2];
  EXPECT_EQ(f.label, "KESTRELVOL");
  EXPECT_EQ(f.fs_name, "FAT32");
  EXPECT_EQ(f.bytes, kVolumeBytes);
  EXPECT_EQ(f.device, volume_image);
  EXPECT_EQ(f.offset, 0u);
  EXPECT_TRUE(f.removable);
  EXPECT_EQ(f.disk_ordinal, -1);

  ASSERT_EQ(map.disks.size(), 1u);
  EXPECT_EQ(map.disks[0].ordinal, 0);
  EXPECT_EQ(map.disks[0].model, "sd.img");
  EXPECT_EQ(map.disks[0].sector_count, kDiskBytes / 512);
  EXPECT_EQ(map.disks[0].volume_letters, "CD");
  EXPECT_EQ(map.FindVolume('f'), &map.volumes[2]);
  EXPECT_EQ(map.FindVolume('E'), nullptr);
  EXPECT_EQ(map.FindDisk(0), &map.disks[0]);
  EXPECT_EQ(map.FindDisk(1), nullptr);

  // Opened sources read sector 0 and the last sector through the partition offset.
  ScanSource opened_c;
  ASSERT_EQ(OpenVolumeSource(*map.FindVolume('C'), &opened_c), 0);
  EXPECT_EQ(opened_c.kind, SourceKind::kVolume);
  EXPECT_EQ(opened_c.drive_letter, 'C');
  EXPECT_EQ(opened_c.bytes_per_sector, 512u);
  EXPECT_EQ(opened_c.sector_count, kPartOneSectors);
  EXPECT_EQ(opened_c.bytes->Size(), kPartOneSectors * 512);
  std::vector<uint8_t> expected = BytesAt(disk_image, kPartOneStart * 512, 512);
  EXPECT_EQ(std::vector<uint8_t>(opened_c.boot_sector.begin(), opened_c.boot_sector.end()),
            expected);
  EXPECT_EQ(opened_c.boot_sector[510], 0x55);
  EXPECT_EQ(opened_c.boot_sector[511], 0xAA);
  // The last sector of the partition, not of the image.
  std::vector<uint8_t> last(512);
  ASSERT_EQ(TransferSectors(*opened_c.bytes, kPartOneSectors - 1, 1, last.data()), 0);
  EXPECT_EQ(last, BytesAt(disk_image, (kPartOneStart + kPartOneSectors - 1) * 512, 512));

  ScanSource opened_d;
  ASSERT_EQ(OpenVolumeSource(*map.FindVolume('D'), &opened_d), 0);
  EXPECT_EQ(std::vector<uint8_t>(opened_d.boot_sector.begin(), opened_d.boot_sector.end()),
            BytesAt(disk_image, kPartTwoStart * 512, 512));

  ScanSource disk;
  ASSERT_EQ(OpenDiskSource(map.disks[0], &disk), 0);
  EXPECT_EQ(disk.kind, SourceKind::kDisk);
  EXPECT_EQ(disk.disk_ordinal, 0);
  EXPECT_EQ(disk.sector_count, kDiskBytes / 512);
  EXPECT_EQ(std::vector<uint8_t>(disk.boot_sector.begin(), disk.boot_sector.end()),
            BytesAt(disk_image, 0, 512));

  ScanSource opened_f;
  ASSERT_EQ(OpenVolumeSource(*map.FindVolume('F'), &opened_f), 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&opened_f.boot_sector[82]), 8), "FAT32   ");

  ScanSource path;
  ASSERT_EQ(OpenPathSource(volume_image, SourceKind::kDisk, &path), 0);
  EXPECT_EQ(path.kind, SourceKind::kDisk);
  EXPECT_EQ(path.drive_letter, 0);
  EXPECT_EQ(path.sector_count, kVolumeBytes / 512);

  // The FAT version from the boot sector agrees with mkfs.
  auto version_at = [](const std::string& image, uint64_t offset) {
    std::array<uint8_t, 512> sector{};
    std::vector<uint8_t> bytes = BytesAt(image, offset, 512);
    std::copy(bytes.begin(), bytes.end(), sector.begin());
    return FatVersionFromBootSector(sector);
  };
  EXPECT_EQ(version_at(volume_image, 0), "FAT32");
  EXPECT_EQ(version_at(disk_image, kPartOneStart * 512), "FAT16");
  EXPECT_EQ(version_at(disk_image, kPartTwoStart * 512), "FAT12");
  EXPECT_EQ(version_at(disk_image, 0), "");  // the MBR is no boot sector
  std::array<uint8_t, 512> absurd{};
  absurd[11] = 0x00;
  absurd[12] = 0x02;  // 512 bytes a sector
  absurd[13] = 1;
  absurd[14] = 0xFF;
  absurd[15] = 0xFF;  // more reserved sectors than the volume has
  absurd[16] = 2;
  absurd[19] = 100;
  absurd[22] = 1;
  EXPECT_EQ(FatVersionFromBootSector(absurd), "");
}

TEST_F(DriveEnumerationTest, ExplicitLettersWinSkippedEntriesTakeNoneAndZIsTheLast) {
  Fat32Volume("vol.img", "V");
  TwoPartitionDisk("sd.img");

  DeviceMap map = MapOf("disk sd.img\nD: vol.img\n");
  EXPECT_EQ(Letters(map), "CDE");
  EXPECT_EQ(map.disks[0].volume_letters, "CE");

  map = MapOf("C: vol.img\nB: vol.img\ndisk sd.img\n");  // A and B only when asked for
  EXPECT_EQ(Letters(map), "BCDE");
  EXPECT_EQ(map.disks[0].volume_letters, "DE");

  // Entries that cannot be attached are reported with their line and leave their letter free.
  fs::create_directory(dir_ / "folder.img");
  map = MapOf(
      "C: missing.img\ndisk also-missing.img\nbogus line\nX: vol.img\ndisk sd.img\nD: "
      "folder.img\n");
  EXPECT_EQ(Letters(map), "CDX");
  EXPECT_EQ(map.disks.size(), 1u);
  EXPECT_EQ(map.disks[0].volume_letters, "CD");
  EXPECT_EQ(map.warnings.size(), 4u);
  EXPECT_TRUE(AnyWarningContains(map, "devices.conf:1: cannot open"));
  EXPECT_TRUE(AnyWarningContains(map, "devices.conf:2: cannot open"));
  EXPECT_TRUE(AnyWarningContains(map, "devices.conf:3: "));
  EXPECT_TRUE(AnyWarningContains(map, "devices.conf:6: cannot open"));

  // Volumes beyond Z: are reported and left out.
  std::string text;
  for (char letter = 'C'; letter <= 'Y'; ++letter) text += std::string(1, letter) + ": vol.img\n";
  map = MapOf(text + "disk sd.img\n");
  EXPECT_EQ(map.volumes.size(), 24u);
  EXPECT_EQ(map.volumes.back().letter, 'Z');
  EXPECT_EQ(map.volumes.back().label, "PARTONE");
  ASSERT_EQ(map.disks.size(), 1u);
  EXPECT_EQ(map.disks[0].volume_letters, "Z");
  ASSERT_EQ(map.warnings.size(), 1u);
  EXPECT_NE(map.warnings[0].find("no drive letter left"), std::string::npos);
}

TEST_F(DriveEnumerationTest, PartitionsPastTheEndOfATruncatedImage) {
  std::string disk_image = TwoPartitionDisk("sd.img");
  // Cut the image inside the first partition: it shrinks to what is there, the second is gone.
  ASSERT_EQ(
      RunCommand("truncate -s " + std::to_string((kPartOneStart + 1000) * 512) + " " + disk_image),
      0);
  DeviceMap map = MapOf("disk sd.img\n");
  ASSERT_EQ(Letters(map), "C");
  EXPECT_EQ(map.volumes[0].bytes, 1000u * 512);
  EXPECT_TRUE(AnyWarningContains(map, "partition 2 starts beyond the end of the disk"));

  ScanSource source;
  EXPECT_EQ(OpenVolumeSource(map.volumes[0], &source), 0);
  EXPECT_EQ(source.sector_count, 1000u);
}

TEST_F(DriveEnumerationTest, SourcesThatCannotBeReadEndTheRunWithTheirMessage) {
  std::string empty = dir_ / "empty.img";
  std::string tiny = dir_ / "tiny.img";
  testing::WriteFileBytes(empty, {});
  testing::WriteFileBytes(tiny, std::vector<uint8_t>(100, 0xAB));
  fs::create_directory(dir_ / "folder");
  ScanSource source;
  EXPECT_EQ(OpenPathSource(dir_ / "missing.img", SourceKind::kVolume, &source),
            msg::kCannotReadDevice);
  EXPECT_EQ(OpenPathSource(dir_ / "folder", SourceKind::kVolume, &source), msg::kCannotReadDevice);
  // A FIFO is refused at once: opening it must not wait for a writer that never comes.
  ASSERT_EQ(::mkfifo((dir_ / "pipe").c_str(), 0600), 0);
  EXPECT_EQ(OpenPathSource(dir_ / "pipe", SourceKind::kVolume, &source), msg::kCannotReadDevice);
  EXPECT_EQ(OpenPathSource(empty, SourceKind::kVolume, &source), msg::kMediaNotPresent);
  EXPECT_EQ(OpenPathSource(tiny, SourceKind::kDisk, &source), msg::kMediaNotPresent);
  EXPECT_EQ(source.bytes, nullptr);

  // An attached image that is empty is listed, and opening it reports the missing medium.
  DeviceMap map = MapOf("R: empty.img removable\n");
  ASSERT_EQ(Letters(map), "R");
  EXPECT_EQ(OpenVolumeSource(map.volumes[0], &source), msg::kMediaNotPresent);
  fs::remove(empty);
  EXPECT_EQ(OpenVolumeSource(map.volumes[0], &source), msg::kCannotReadDevice);

  // A FIFO in the device map is left out with a warning, without waiting.
  DeviceMap piped = MapOf("P: pipe\n");
  EXPECT_EQ(Letters(piped), "");
  ASSERT_EQ(piped.warnings.size(), 1u);
  EXPECT_NE(piped.warnings[0].find("not an image file or block device"), std::string::npos)
      << piped.warnings[0];
}

TEST_F(DriveEnumerationTest, FileSystemNamesOfOtherVolumes) {
  std::string text;
  if (testing::HaveTool("mkntfs")) {
    ASSERT_EQ(RunCommand("truncate -s 16M " + dir_ / "nt.img" + " && mkntfs -F -Q -L NTFSVOL " +
                         dir_ / "nt.img" + " >/dev/null 2>&1"),
              0);
    text += "N: nt.img\n";
  }
  if (testing::HaveTool("mkfs.exfat")) {
    ASSERT_EQ(RunCommand("truncate -s 16M " + dir_ / "ex.img" + " && mkfs.exfat -L EXVOL " +
                         dir_ / "ex.img" + " >/dev/null 2>&1"),
              0);
    text += "E: ex.img\n";
  }
  ASSERT_TRUE(testing::MakeFatVolume(dir_ / "plain.img", 8, ""));
  testing::WriteFileBytes(dir_ / "zeros.img", std::vector<uint8_t>(1 << 20, 0));
  DeviceMap map = MapOf(text + "P: plain.img\nZ: zeros.img\n");
  EXPECT_TRUE(map.warnings.empty());
  if (text.find("N:") != std::string::npos) {
    ASSERT_NE(map.FindVolume('N'), nullptr);
    EXPECT_EQ(map.FindVolume('N')->fs_name, "NTFS");
    EXPECT_EQ(map.FindVolume('N')->label, "NTFSVOL");
  }
  if (text.find("E:") != std::string::npos) {
    ASSERT_NE(map.FindVolume('E'), nullptr);
    EXPECT_EQ(map.FindVolume('E')->fs_name, "exFAT");
    EXPECT_EQ(map.FindVolume('E')->label, "EXVOL");
  }
  ASSERT_NE(map.FindVolume('P'), nullptr);
  EXPECT_EQ(map.FindVolume('P')->fs_name, "FAT12");
  EXPECT_EQ(map.FindVolume('P')->label, "");
  ASSERT_NE(map.FindVolume('Z'), nullptr);
  EXPECT_EQ(map.FindVolume('Z')->fs_name, "");
}

// Real disks come from sysfs; here a fake sysfs whose "device nodes" are image files.
TEST_F(DriveEnumerationTest, RealDisksComeFirstThenDiskImages) {
  testing::FakeSysBlock sys;
  sys.AddDisk("sda", 80000, "ATA", "TESTDISK", false);
  sys.AddPartition("sda", "sda1", 1, 2048, 81920);
  sys.AddDisk("sdb", 81920, "", "CARD", true);
  const fs::path dev = sys.dev();
  fs::rename(Fat32Volume("a1.img", "SYSTEM"), dev / "sda1");
  fs::rename(Fat32Volume("b.img", "CAMERA"), dev / "sdb");  // no partition table
  Fat32Volume("vol.img", "V");
  TwoPartitionDisk("sd.img");

  std::string map_path = dir_ / "devices.conf";
  std::ofstream(map_path) << "disk sd.img\nE: vol.img\n";
  DeviceMapOptions options;
  options.sys_block_dir = sys.sys();
  options.dev_dir = sys.dev();
  options.map_path = map_path;
  DeviceMap map = BuildDeviceMap(options);

  ASSERT_EQ(Letters(map), "CDEFG");
  EXPECT_EQ(map.volumes[0].label, "SYSTEM");
  EXPECT_EQ(map.volumes[0].device, (dev / "sda1").string());
  EXPECT_FALSE(map.volumes[0].in_image);
  EXPECT_EQ(map.volumes[1].label, "CAMERA");
  EXPECT_TRUE(map.volumes[1].removable);
  EXPECT_EQ(map.volumes[2].label, "V");
  EXPECT_EQ(map.volumes[3].label, "PARTONE");
  ASSERT_EQ(map.disks.size(), 3u);
  EXPECT_EQ(map.disks[0].model, "ATA TESTDISK");
  EXPECT_EQ(map.disks[0].volume_letters, "C");
  EXPECT_EQ(map.disks[1].model, "CARD");
  EXPECT_EQ(map.disks[1].volume_letters, "D");
  EXPECT_EQ(map.disks[2].model, "sd.img");
  EXPECT_EQ(map.disks[2].ordinal, 2);
  EXPECT_EQ(map.disks[2].volume_letters, "FG");
}

// Two block device nodes for the same-drive test: made here when allowed, else existing loop
// device nodes (only their device numbers are used; nothing opens them).
bool TwoBlockNodes(const TempDir& dir, std::string nodes[2], dev_t numbers[2]) {
  for (int i = 0; i < 2; ++i) {
    numbers[i] = makedev(240, 77 + i);  // numbers of the "local use" range
    nodes[i] = dir / ("node-" + std::to_string(i));
    if (::mknod(nodes[i].c_str(), S_IFBLK | 0600, numbers[i]) == 0) continue;
    struct stat st {};
    nodes[i] = "/dev/loop" + std::to_string(i);
    if (::stat(nodes[i].c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return false;
    numbers[i] = st.st_rdev;
  }
  return true;
}

TEST_F(DriveEnumerationTest, SameDriveComparesDeviceNumbersThroughMountInfo) {
  std::string nodes[2];
  dev_t numbers[2];
  if (!TwoBlockNodes(dir_, nodes, numbers)) GTEST_SKIP() << "no block device nodes to compare";
  const std::string& source_node = nodes[0];
  const std::string& other_node = nodes[1];
  const dev_t source_number = numbers[0];
  const dev_t other_number = numbers[1];
  std::string folder = dir_ / "out";
  fs::create_directory(folder);
  std::string real_folder = fs::canonical(folder).string();

  std::string mountinfo = dir_ / "mountinfo";
  testing::ScopedEnv env("KESTREL_MOUNTINFO", mountinfo);
  auto say_folder_is_on = [&](dev_t number, const std::string& source) {
    std::ofstream(mountinfo, std::ios::trunc)
        << "1 0 8:1 / / rw - ext4 /dev/root rw\n"
        << "99 1 " << major(number) << ":" << minor(number) << " / " << real_folder
        << " rw,relatime - vfat " << source << " rw\n";
  };

  VolumeEntry volume;
  volume.letter = 'G';
  volume.device = source_node;
  volume.disk_ordinal = 0;
  PhysicalDiskEntry disk;
  disk.ordinal = 0;
  disk.device = other_node;  // the disk node itself does not hold the folder
  DeviceMap map;
  map.volumes.push_back(volume);
  map.disks.push_back(disk);

  // Known by the number in mountinfo, though the source names no existing node.
  say_folder_is_on(source_number, "/dev/no-such-node");
  EXPECT_TRUE(FolderIsOnVolume(folder, volume));
  EXPECT_TRUE(FolderIsOnDevicePath(folder, source_node));
  EXPECT_TRUE(FolderIsOnDisk(folder, disk, map));
  EXPECT_FALSE(FolderIsOnDevicePath(folder, other_node));

  // Known by the node the mount names.
  say_folder_is_on(makedev(0, 999), source_node);
  EXPECT_TRUE(FolderIsOnVolume(folder, volume));

  // On another device: no.
  say_folder_is_on(other_number, "/dev/no-such-node");
  EXPECT_FALSE(FolderIsOnVolume(folder, volume));
  EXPECT_TRUE(FolderIsOnDevicePath(folder, other_node));

  // An image file holds no folder unless mounted through a loop device backed by it.
  std::string image = Fat32Volume("vol.img", "V");
  VolumeEntry image_volume;
  image_volume.device = image;
  image_volume.in_image = true;
  say_folder_is_on(source_number, image);
  EXPECT_FALSE(FolderIsOnVolume(folder, image_volume));
}

}  // namespace
}  // namespace kestrel
