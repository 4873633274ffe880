// A real full disk: a 1 MiB tmpfs as the recovery folder. Both modes end with message 57441 and
// exit status 1; every file left under a recovered name is whole and no partial file remains.
#include <gtest/gtest.h>

#include <optional>

#include "faults/fault_mounts.h"
#include "faults/planted_files.h"
#include "run/messages.h"
#include "support/cli_runner.h"
#include "support/fat_image.h"
#include "support/image_builder.h"
#include "support/ntfs_image.h"

#ifndef KESTREL_NTFS_TOOL_PATH
#define KESTREL_NTFS_TOOL_PATH ""
#endif

namespace kestrel {
namespace {

using testing::TempDir;

constexpr int kFiles = 6;
constexpr size_t kFileBytes = 300000;  // six of them need more than the 1 MiB there is

std::string DiskFullText() {
  const std::string_view text = MessageText(msg::kDiskFull);
  return std::string(text.substr(0, text.find("%s")));
}

class FullDiskTest : public ::testing::Test {
 protected:
  // Mounts the small tmpfs at dir_/full; false (the test skips) when that is not allowed here.
  bool MountFullDisk() {
    mount_ = testing::MemoryMount::Start(dir_ / "full", "tmpfs", "size=1m,mode=0755", &why_);
    return mount_ != nullptr;
  }

  void ExpectStoppedWithNothingPartial(const testing::CliResult& result) {
    EXPECT_EQ(result.status, 1) << result.out << result.err;
    EXPECT_NE(result.err.find(DiskFullText()), std::string::npos) << result.err;
    const std::string day = testing::DayFolderBelow(dir_ / "full");
    ASSERT_FALSE(day.empty());
    EXPECT_NE(result.err.find(DiskFullText() + day), std::string::npos) << "names the run folder";
    EXPECT_FALSE(testing::RecoveredNames(day).empty()) << "what fitted is kept";
    EXPECT_LT(testing::RecoveredNames(day).size(), static_cast<size_t>(kFiles));
    EXPECT_EQ(testing::FilesNotWhole(day, originals_), std::vector<std::string>{});
    EXPECT_EQ(testing::PartialFiles(day), std::vector<std::string>{});
  }

  TempDir dir_;
  std::unique_ptr<testing::MemoryMount> mount_;
  std::string why_;
  std::vector<std::vector<uint8_t>> originals_;
};

TEST_F(FullDiskTest, ScanStopsWithMessage57441) {
  testing::ImageBuilder image;
  image.AddZeros(4);
  for (int i = 0; i < kFiles; ++i) {
    originals_.push_back(testing::PlantedPng(kFileBytes, 70 + i));
    image.AddFile(originals_.back());
    image.AddZeros(4);
  }
  image.AddZeros(70);
  image.WriteTo(dir_ / "card.img");
  if (!MountFullDisk()) GTEST_SKIP() << why_;
  ExpectStoppedWithNothingPartial(
      testing::RunCli(dir_, "scan " + dir_ / "card.img" + " --types png --out " + dir_ / "full"));
}

TEST_F(FullDiskTest, DeletedFilesCopyStopsWithMessage57441) {
  if (!testing::HaveFatTools()) GTEST_SKIP() << "mkfs.fat or mtools missing";
  auto image = testing::FatImage::Create(dir_ / "stick.img", 16, 20480, 4, &why_);
  ASSERT_TRUE(image) << why_;
  for (int i = 0; i < kFiles; ++i) {
    originals_.push_back(testing::FatTestBytes(kFileBytes, 90 + i));
    ASSERT_TRUE(image->WriteFile("/PIC" + std::to_string(i) + ".JPG", originals_.back()));
  }
  for (int i = 0; i < kFiles; ++i) ASSERT_TRUE(image->Delete("/PIC" + std::to_string(i) + ".JPG"));
  if (!MountFullDisk()) GTEST_SKIP() << why_;
  ExpectStoppedWithNothingPartial(
      testing::RunCli(dir_, "deleted " + image->path() + " --types all --out " + dir_ / "full"));
}

TEST_F(FullDiskTest, NtfsDeletedFilesCopyStopsWithMessage57441) {
  auto image = testing::NtfsImage::Create(KESTREL_NTFS_TOOL_PATH, dir_ / "disk.img", 16, &why_);
  if (!image) GTEST_SKIP() << "no NTFS test volume: " << why_;
  auto name = [](int i) { return "/pic" + std::to_string(i) + ".jpg"; };
  bool written = true;
  for (int i = 0; i < kFiles; ++i) {
    originals_.push_back(testing::FatTestBytes(kFileBytes, 110 + i));
    written = written && image->WriteFile(name(i), originals_.back());
  }
  for (int i = 0; i < kFiles; ++i) written = written && image->Delete(name(i));
  if (!written) GTEST_SKIP() << "the NTFS helper could not write and delete the files";
  if (!MountFullDisk()) GTEST_SKIP() << why_;
  ExpectStoppedWithNothingPartial(
      testing::RunCli(dir_, "deleted " + image->path() + " --types all --out " + dir_ / "full"));
}

}  // namespace
}  // namespace kestrel
