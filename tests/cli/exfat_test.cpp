// kestrel-cli on an exFAT volume written through exfat-fuse: deleted (with --list,
// --keep-paths and --folder), the volume as a partition of a whole-disk image, and
// scan --free-space, which carves the deleted picture and leaves the live one alone.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "run/messages.h"
#include "support/cli_runner.h"
#include "support/exfat_image.h"
#include "support/fat_image.h"
#include "support/fixture_samples.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

using testing::CliResult;
using testing::ReadFileBytes;
using testing::TempDir;

class ExfatCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    auto image = testing::ExfatImage::Create(dir_ / "card.img", dir_ / "mnt", 16, 4096, &why);
    if (!image) GTEST_SKIP() << why;
    beach_ = testing::ReadFixtureSample("exif.jpg");
    top_ = testing::FatTestBytes(3000, 2);
    live_ = testing::ReadFixtureSample("jfif.jpg");
    ASSERT_TRUE(image->MakeFolder("/Photos/Trip"));
    ASSERT_TRUE(image->WriteFile("/Photos/keep.jpg", live_));
    ASSERT_TRUE(image->WriteFile("/Photos/Trip/beach.jpg", beach_));
    ASSERT_TRUE(image->WriteFile("/top.bin", top_));
    ASSERT_EQ(testing::RunCommand("touch -d @" + std::to_string(kTopModified) + " '" +
                                  image->Mounted("/top.bin") + "'"),
              0);
    ASSERT_TRUE(image->Delete("/Photos/Trip/beach.jpg"));
    ASSERT_TRUE(image->Delete("/top.bin"));
    ASSERT_TRUE(image->Unmount());
    image_ = image->path();
  }

  // The run folders hold the recovered files only.
  CliResult Run(const std::string& arguments) {
    return testing::RunCli(dir_, arguments + " --no-report");
  }

  // 2019-06-01 14:30:08 UTC, the modification and access time set on the mounted volume before
  // the file is deleted (exfat-fuse takes the two together only).
  static constexpr int64_t kTopModified = 1559399408;

  TempDir dir_;
  std::string image_;
  std::vector<uint8_t> beach_, top_, live_;
};

TEST_F(ExfatCommandTest, DeletedListKeepPathsAndFolder) {
  CliResult run = Run("deleted '" + image_ + "' --types all --out '" + dir_ / "out" + "'");
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string day = testing::DayFolderBelow(dir_ / "out") + "/";
  EXPECT_EQ(run.OutLines(),
            (std::vector<std::string>{
                "top.bin\t3 KB\t" + day,
                "beach.jpg\t" + std::to_string((beach_.size() + 1023) / 1024) + " KB\t" + day,
                std::string(MessageText(msg::kCompleted)),
            }));
  // The times, before a read of the file moves its access time.
  struct stat top {};
  ASSERT_EQ(stat((day + "top.bin").c_str(), &top), 0);
  EXPECT_EQ(top.st_mtim.tv_sec, kTopModified);
  EXPECT_EQ(top.st_atim.tv_sec, kTopModified);
  EXPECT_EQ(ReadFileBytes(day + "beach.jpg"), beach_);
  EXPECT_EQ(ReadFileBytes(day + "top.bin"), top_);
  EXPECT_FALSE(std::filesystem::exists(day + "keep.jpg"));

  CliResult list = Run("deleted '" + image_ + "' --list --types all");
  ASSERT_EQ(list.status, 0) << list.err;
  EXPECT_EQ(list.OutLines(),
            (std::vector<std::string>{
                "/top.bin\t3000\tintact",
                "/Photos/Trip/beach.jpg\t" + std::to_string(beach_.size()) + "\tintact",
            }));

  CliResult kept =
      Run("deleted '" + image_ + "' --types all --keep-paths --out '" + dir_ / "kept" + "'");
  ASSERT_EQ(kept.status, 0) << kept.err;
  const std::string kept_day = testing::DayFolderBelow(dir_ / "kept") + "/";
  EXPECT_EQ(ReadFileBytes(kept_day + "Photos/Trip/beach.jpg"), beach_);

  CliResult folder = Run("deleted '" + image_ + "' --types all --folder /photos --list --json");
  ASSERT_EQ(folder.status, 0) << folder.err;
  ASSERT_EQ(folder.OutLines().size(), 1u);
  EXPECT_NE(folder.OutLines()[0].find("\"/photos/Trip/beach.jpg\""), std::string::npos)
      << folder.out;
}

// The volume inside a whole-disk image with a partition table: its partition becomes drive C:.
TEST_F(ExfatCommandTest, APartitionOfADiskImageIsReadByItsLetter) {
  const std::string disk = dir_ / "disk.img";
  std::vector<uint8_t> bytes(1 << 20, 0);
  const std::vector<uint8_t> volume = ReadFileBytes(image_);
  bytes.insert(bytes.end(), volume.begin(), volume.end());
  testing::WriteFileBytes(disk, bytes);
  ASSERT_EQ(
      testing::RunCommand("printf 'label: dos\\nstart=2048, type=7\\n' | sfdisk -q '" + disk + "'"),
      0);
  std::ofstream(dir_ / "devices.conf") << "disk " << disk << "\n";
  CliResult run = Run("deleted C: --types all --keep-paths --out '" + dir_ / "out" + "'");
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string day = testing::DayFolderBelow(dir_ / "out") + "/";
  EXPECT_EQ(ReadFileBytes(day + "Photos/Trip/beach.jpg"), beach_);
  EXPECT_EQ(ReadFileBytes(day + "top.bin"), top_);
}

TEST_F(ExfatCommandTest, FreeSpaceScanCarvesTheDeletedPictureOnly) {
  CliResult scan =
      Run("scan '" + image_ + "' --free-space --types jpg --out '" + dir_ / "scan" + "'");
  ASSERT_EQ(scan.status, 0) << scan.err;
  const std::string day = testing::DayFolderBelow(dir_ / "scan");
  const std::vector<std::string> files = testing::ListFiles(day);
  ASSERT_EQ(files.size(), 1u) << scan.out;
  EXPECT_EQ(ReadFileBytes(day + "/" + files[0]), beach_);

  // The whole volume gives the live picture as well.
  CliResult whole = Run("scan '" + image_ + "' --types jpg --out '" + dir_ / "whole" + "'");
  ASSERT_EQ(whole.status, 0) << whole.err;
  EXPECT_EQ(testing::ListFiles(testing::DayFolderBelow(dir_ / "whole")).size(), 2u);
}

// Debian's forensic sample: an MBR disk whose exFAT partition had its folders ending in "2"
// deleted with everything in them. Every file of those folders comes back under its path, and
// nothing of the live folders.
TEST(ExfatForensicSample, TheDeletedFoldersComeBackWhole) {
  const std::string sample = "/usr/share/forensics-samples/fs.exfat.xz";
  const std::string originals = "/usr/share/forensics-samples/original-files";
  if (!std::filesystem::exists(sample) || !std::filesystem::is_directory(originals)) {
    GTEST_SKIP() << "forensics-samples-exfat or forensics-samples-files is not installed";
  }
  TempDir dir;
  ASSERT_EQ(testing::RunCommand("xz -dc " + sample + " > " + dir / "fs.exfat"), 0);
  std::ofstream(dir / "devices.conf") << "disk " << dir / "fs.exfat"
                                      << "\n";
  CliResult run = testing::RunCli(
      dir, "deleted C: --types all --keep-paths --no-report --out '" + dir / "out" + "'");
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string day = testing::DayFolderBelow(dir / "out");
  std::vector<std::string> recovered;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(day)) {
    if (entry.is_regular_file()) recovered.push_back(entry.path().lexically_relative(day));
  }
  std::sort(recovered.begin(), recovered.end());
  std::vector<std::string> deleted;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(originals)) {
    const std::string path = entry.path().lexically_relative(originals);
    if (entry.is_regular_file() && path.find("2/") != std::string::npos) deleted.push_back(path);
  }
  std::sort(deleted.begin(), deleted.end());
  ASSERT_EQ(recovered, deleted);
  for (const std::string& path : deleted) {
    const auto original = ReadFileBytes(originals + "/" + path);
    const auto back = ReadFileBytes(day + "/" + path);
    // The files package holds a later d-debian.png than the one copied to the volume (The
    // Sleuth Kit gives back the same bytes as Kestrel); its size is the same.
    if (path == "pic2/d-debian.png") {
      EXPECT_EQ(back.size(), original.size());
    } else {
      EXPECT_EQ(back, original) << path;
    }
  }
}

}  // namespace
}  // namespace kestrel
