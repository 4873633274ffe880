// A scan killed with SIGKILL at random moments: every file under a recovered name is whole,
// at most one partial file is left, and the next run into the same folder removes it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <random>
#include <thread>

#include "faults/fault_mounts.h"
#include "faults/planted_files.h"
#include "support/image_builder.h"

namespace kestrel {
namespace {

using testing::TempDir;

constexpr int kKills = 10;
constexpr int kPlantedFiles = 40;

ino_t InodeOf(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

class KilledScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::mt19937 sizes(5);
    testing::ImageBuilder image;
    image.AddZeros(4);
    for (int i = 0; i < kPlantedFiles; ++i) {
      const size_t length = std::uniform_int_distribution<size_t>(50000, 800000)(sizes);
      originals_.push_back(testing::PlantedPng(length, 200 + i));
      image.AddFile(originals_.back());
      image.AddZeros(16);
    }
    image.AddZeros(70);
    image.WriteTo(dir_ / "many.img");
  }

  std::vector<std::string> ScanArguments(const std::string& out) const {
    return {"scan", dir_ / "many.img", "--types", "png", "--no-report", "--out", out};
  }

  TempDir dir_;
  std::vector<std::vector<uint8_t>> originals_;
};

TEST_F(KilledScanTest, LeavesOnlyWholeFilesAndOnePartialFileThatTheNextRunRemoves) {
  // A whole run first: every planted file comes back, and it tells how long a run lasts.
  const auto started = std::chrono::steady_clock::now();
  testing::CliProcess whole(dir_, ScanArguments(dir_ / "whole"));
  const int whole_status = whole.Wait();
  const auto run_time = std::chrono::steady_clock::now() - started;
  ASSERT_TRUE(WIFEXITED(whole_status) && WEXITSTATUS(whole_status) == 0) << whole_status;
  const std::string whole_day = testing::DayFolderBelow(dir_ / "whole");
  ASSERT_EQ(testing::RecoveredNames(whole_day).size(), static_cast<size_t>(kPlantedFiles));
  ASSERT_EQ(testing::FilesNotWhole(whole_day, originals_), std::vector<std::string>{});

  std::mt19937_64 moments(11);
  const auto run_micros = std::chrono::duration_cast<std::chrono::microseconds>(run_time).count();
  std::string stale_path;
  ino_t stale_inode = 0;
  int killed_with_partial = 0;
  size_t kept_before = 0;
  for (int kill = 0; kill < kKills; ++kill) {
    SCOPED_TRACE("kill " + std::to_string(kill));
    testing::CliProcess scan(dir_, ScanArguments(dir_ / "out"));
    std::this_thread::sleep_for(
        std::chrono::microseconds(std::uniform_int_distribution<int64_t>(0, run_micros)(moments)));
    scan.KillAndWait();
    const std::string day = testing::DayFolderBelow(dir_ / "out");
    if (day.empty()) continue;  // killed before it made its folder
    const size_t kept = testing::RecoveredNames(day).size();
    // A run that kept a file got past its start, where the earlier partial file is removed.
    if (!stale_path.empty() && kept > kept_before) {
      EXPECT_NE(InodeOf(stale_path), stale_inode) << "the earlier run's partial file is removed";
    }
    kept_before = kept;
    EXPECT_EQ(testing::FilesNotWhole(day, originals_), std::vector<std::string>{});
    const auto partial = testing::PartialFiles(day);
    EXPECT_LE(partial.size(), 1u);
    stale_path = partial.empty() ? "" : day + "/" + partial[0];
    stale_inode = partial.empty() ? 0 : InodeOf(stale_path);
    killed_with_partial += partial.empty() ? 0 : 1;
  }
  std::printf("%d of %d kills left a partial file\n", killed_with_partial, kKills);

  testing::CliProcess last(dir_, ScanArguments(dir_ / "out"));
  const int last_status = last.Wait();
  EXPECT_TRUE(WIFEXITED(last_status) && WEXITSTATUS(last_status) == 0) << last_status;
  const std::string day = testing::DayFolderBelow(dir_ / "out");
  EXPECT_EQ(testing::PartialFiles(day), std::vector<std::string>{}) << "removed, none left";
  EXPECT_EQ(testing::FilesNotWhole(day, originals_), std::vector<std::string>{});
  EXPECT_GE(testing::RecoveredNames(day).size(), static_cast<size_t>(kPlantedFiles));
}

}  // namespace
}  // namespace kestrel
