// A real full disk: a 1 MiB tmpfs as the recovery folder. A scan ends with message 57441 and exit
// status 1; a deleted-files run skips the files that do not fit and goes on. Every file left
// under a recovered name is whole and no partial file remains.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
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
constexpr size_t kSmallFileBytes = 20000;

size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

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
  ExpectStoppedWithNothingPartial(testing::RunCli(
      dir_, "scan " + dir_ / "card.img" + " --types png --no-report --out " + dir_ / "full"));
}

// The same deleted files on FAT and NTFS, six that need more than the disk holds and a small one
// after them, recovered onto the full disk: each file that no longer fits is named on stderr
// with the room it needs and skipped before anything of it is written, and the run goes on to
// the small file. Both runs end the same way: exit status 3, message 70006 counting the skipped
// files, the files that fitted listed, kept whole and counted, and nothing partial.
TEST_F(FullDiskTest, DeletedFilesThatDoNotFitAreSkippedTheSameWayOnFatAndNtfs) {
  if (!testing::HaveFatTools()) GTEST_SKIP() << "mkfs.fat or mtools missing";
  auto fat = testing::FatImage::Create(dir_ / "fat.img", 16, 20480, 4, &why_);
  ASSERT_TRUE(fat) << why_;
  auto ntfs = testing::NtfsImage::Create(KESTREL_NTFS_TOOL_PATH, dir_ / "ntfs.img", 16, &why_);
  if (!ntfs) GTEST_SKIP() << "no NTFS test volume: " << why_;
  std::vector<std::string> names;
  for (int i = 0; i < kFiles; ++i) {
    names.push_back("/pic" + std::to_string(i) + ".jpg");
    originals_.push_back(testing::FatTestBytes(kFileBytes, 130 + i));
  }
  names.push_back("/last.txt");
  originals_.push_back(testing::FatTestBytes(kSmallFileBytes, 140));
  bool written = true;
  for (size_t i = 0; i < names.size(); ++i) {
    ASSERT_TRUE(fat->WriteFile(names[i], originals_[i]));
    written = written && ntfs->WriteFile(names[i], originals_[i]);
  }
  for (const std::string& name : names) {
    ASSERT_TRUE(fat->Delete(name));
    written = written && ntfs->Delete(name);
  }
  if (!written) GTEST_SKIP() << "the NTFS helper could not write and delete the files";
  if (!MountFullDisk()) GTEST_SKIP() << why_;
  std::vector<std::string> endings;
  for (const std::string& image : {fat->path(), ntfs->path()}) {
    SCOPED_TRACE(image);
    const testing::CliResult result = testing::RunCli(
        dir_, "deleted " + image + " --types all --verbose --no-report --out " + dir_ / "full");
    const std::string day = testing::DayFolderBelow(dir_ / "full");
    ASSERT_FALSE(day.empty());
    const std::vector<std::string> kept = testing::RecoveredNames(day);
    const size_t skipped = names.size() - kept.size();
    EXPECT_EQ(result.status, 3) << result.out << result.err;
    EXPECT_GE(skipped, 1u);
    EXPECT_EQ(testing::FilesNotWhole(day, originals_), std::vector<std::string>{});
    EXPECT_EQ(testing::PartialFiles(day), std::vector<std::string>{});
    EXPECT_TRUE(std::any_of(kept.begin(), kept.end(), [&](const std::string& name) {
      return std::filesystem::file_size(day + "/" + name) == kSmallFileBytes;
    })) << "the run went on after the files that did not fit";
    EXPECT_EQ(Count(result.err, "kestrel-cli deleted: not written: "), skipped) << result.err;
    EXPECT_EQ(Count(result.err, " are free in " + day + "/)\n"), 2 * skipped)
        << "a status line and a closing line for each: " << result.err;
    std::vector<std::string> lines = result.OutLines();
    EXPECT_EQ(lines.size(), kept.size() + 1) << "every kept file is listed, nothing else";
    EXPECT_EQ(lines.back(),
              FormatMessage(msg::kCompletedWithFilesNotWritten, std::to_string(skipped)));
    EXPECT_NE(result.err.find(", " + std::to_string(kept.size()) + " files recovered"),
              std::string::npos)
        << result.err;
    endings.push_back(std::to_string(result.status) + " " + std::to_string(kept.size()));
    std::filesystem::remove_all(day);

    // The driver's own account: the files kept are counted, the files skipped too.
    testing::FakeRunUi ui;
    RunContext run(ui);
    DeletedPlan plan;
    plan.types.mask = kAllFileTypesMask;
    plan.types.scan_all = 1;
    plan.source.path = image;
    plan.recovery_folder = dir_ / "full";
    plan.options.dfxml.enabled = false;
    const RunResult ended = RecoverDeletedFiles(run, plan);
    EXPECT_EQ(ended.outcome, RunOutcome::kCompleted);
    EXPECT_EQ(ended.message_id, msg::kCompletedWithFilesNotWritten);
    EXPECT_EQ(ended.recovered, testing::RecoveredNames(day).size());
    EXPECT_EQ(ended.recovered, ui.rows.size());
    EXPECT_EQ(ended.recovered + ended.not_written, names.size());
    std::filesystem::remove_all(day);
  }
  EXPECT_EQ(endings[0], endings[1]);
}

// A deleted NTFS file of 1 TiB that is one hole and a last cluster of data comes back onto the
// 1 MiB disk as what it is, a sparse file taking a few blocks; the files around it come back too.
TEST_F(FullDiskTest, ATebibyteSparseFileComesBackAsAHoleOnASmallDisk) {
  auto image = testing::NtfsImage::Create(KESTREL_NTFS_TOOL_PATH, dir_ / "disk.img", 16, &why_);
  if (!image) GTEST_SKIP() << "no NTFS test volume: " << why_;
  constexpr uint64_t kTebibyte = uint64_t{1} << 40;
  const std::vector<uint8_t> before = testing::FatTestBytes(5000, 150);
  const std::vector<uint8_t> tail = testing::FatTestBytes(4096, 151);
  const std::vector<uint8_t> after = testing::FatTestBytes(7000, 152);
  const bool written = image->WriteFile("/a.txt", before) &&
                       image->WriteSparse("/huge.bin", tail, kTebibyte - tail.size()) &&
                       image->WriteFile("/z.txt", after) && image->Delete("/a.txt") &&
                       image->Delete("/huge.bin") && image->Delete("/z.txt");
  if (!written) GTEST_SKIP() << "the NTFS helper could not write and delete the files";
  if (!MountFullDisk()) GTEST_SKIP() << why_;
  const testing::CliResult result = testing::RunCli(
      dir_, "deleted " + image->path() + " --types all --no-report --out " + dir_ / "full");
  EXPECT_EQ(result.status, 0) << result.err;
  const std::string day = testing::DayFolderBelow(dir_ / "full");
  ASSERT_FALSE(day.empty());
  EXPECT_EQ(testing::ReadFileBytes(day + "/a.txt"), before);
  EXPECT_EQ(testing::ReadFileBytes(day + "/z.txt"), after);
  struct stat st {};
  ASSERT_EQ(::stat((day + "/huge.bin").c_str(), &st), 0);
  EXPECT_EQ(static_cast<uint64_t>(st.st_size), kTebibyte);
  EXPECT_LE(st.st_blocks * 512, 64 * 1024) << "the hole was written as zeros";
  std::vector<uint8_t> last(tail.size());
  std::ifstream huge(day + "/huge.bin", std::ios::binary);
  huge.seekg(static_cast<std::streamoff>(kTebibyte - tail.size()));
  huge.read(reinterpret_cast<char*>(last.data()), static_cast<std::streamsize>(last.size()));
  EXPECT_EQ(last, tail);
}

}  // namespace
}  // namespace kestrel
