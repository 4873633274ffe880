// A real full disk: a 1 MiB tmpfs as the recovery folder. Both modes end with message 57441 and
// exit status 1; every file left under a recovered name is whole and no partial file remains.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "faults/fault_mounts.h"
#include "faults/planted_files.h"
#include "platform/settings_store.h"
#include "recover/deleted_recovery.h"
#include "run/messages.h"
#include "support/cli_runner.h"
#include "support/fake_run_ui.h"
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

// The same deleted files on FAT and NTFS, recovered onto the full disk: both runs end the same
// way, with message 57441 naming the run folder, the files that fitted listed, kept whole and
// counted, and nothing partial.
TEST_F(FullDiskTest, DeletedFilesEndTheSameWayOnFatAndNtfs) {
  if (!testing::HaveFatTools()) GTEST_SKIP() << "mkfs.fat or mtools missing";
  auto fat = testing::FatImage::Create(dir_ / "fat.img", 16, 20480, 4, &why_);
  ASSERT_TRUE(fat) << why_;
  auto ntfs = testing::NtfsImage::Create(KESTREL_NTFS_TOOL_PATH, dir_ / "ntfs.img", 16, &why_);
  if (!ntfs) GTEST_SKIP() << "no NTFS test volume: " << why_;
  bool written = true;
  for (int i = 0; i < kFiles; ++i) {
    const std::string name = "/pic" + std::to_string(i) + ".jpg";
    originals_.push_back(testing::FatTestBytes(kFileBytes, 130 + i));
    ASSERT_TRUE(fat->WriteFile(name, originals_.back()));
    written = written && ntfs->WriteFile(name, originals_.back());
  }
  for (int i = 0; i < kFiles; ++i) {
    const std::string name = "/pic" + std::to_string(i) + ".jpg";
    ASSERT_TRUE(fat->Delete(name));
    written = written && ntfs->Delete(name);
  }
  if (!written) GTEST_SKIP() << "the NTFS helper could not write and delete the files";
  if (!MountFullDisk()) GTEST_SKIP() << why_;
  std::vector<std::string> endings;
  for (const std::string& image : {fat->path(), ntfs->path()}) {
    SCOPED_TRACE(image);
    const testing::CliResult result =
        testing::RunCli(dir_, "deleted " + image + " --types all --verbose --out " + dir_ / "full");
    ExpectStoppedWithNothingPartial(result);
    const std::string day = testing::DayFolderBelow(dir_ / "full");
    const size_t kept = testing::RecoveredNames(day).size();
    EXPECT_EQ(result.OutLines().size(), kept) << "every kept file is listed, nothing else";
    EXPECT_NE(result.err.find(", " + std::to_string(kept) + " files recovered"), std::string::npos)
        << result.err;
    endings.push_back(std::to_string(result.status) + " " + std::to_string(kept));
    std::filesystem::remove_all(day);

    // The driver's own account: the files kept stay counted.
    testing::FakeRunUi ui;
    RunContext run(ui);
    DeletedPlan plan;
    plan.types.mask = kAllFileTypesMask;
    plan.types.scan_all = 1;
    plan.source.path = image;
    plan.recovery_folder = dir_ / "full";
    const RunResult ended = RecoverDeletedFiles(run, plan);
    EXPECT_EQ(ended.outcome, RunOutcome::kStopped);
    EXPECT_EQ(ended.message_id, msg::kDiskFull);
    EXPECT_EQ(ended.recovered, testing::RecoveredNames(day).size());
    EXPECT_EQ(ended.recovered, ui.rows.size());
    std::filesystem::remove_all(day);
  }
  EXPECT_EQ(endings[0], endings[1]);
}

}  // namespace
}  // namespace kestrel
