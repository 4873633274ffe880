// Sectors that fail with EIO in the kernel, served through FUSE: kestrel-cli in both modes with
// every answer to the read-error question. Files that hold no bad sector come back exact; the
// one that does is either given back with the unreadable chunk as zeros (Ignore), read again
// (Retry) or dropped (Abort, and every failed copy of the deleted-files mode); no partial file
// is ever left.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>

#include "faults/fault_mounts.h"
#include "faults/planted_files.h"
#include "run/messages.h"
#include "support/cli_runner.h"
#include "support/fat_image.h"
#include "support/image_builder.h"

namespace kestrel {
namespace {

using testing::BadSectors;
using testing::EioImageMount;
using testing::ReadFileBytes;
using testing::TempDir;

constexpr uint64_t kChunkSectors = 64;

class ScanReadErrorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ImageBuilder image;
    image.AddZeros(4);
    for (uint32_t i = 0; i < 3; ++i) {
      originals_.push_back(testing::PlantedPng(200000 + 50000 * i, 10 + i));
      placed_.push_back(image.AddFile(originals_.back()));
      image.AddZeros(8);
    }
    image.AddZeros(70);
    image.WriteTo(dir_ / "card.img");
    // One sector in the middle of the second picture, and in the middle of a 64-sector chunk:
    // the kernel then ends a read of that chunk early instead of failing it outright.
    const uint64_t middle = placed_[1].start_sector + placed_[1].sector_count() / 2;
    bad_sector_ = middle / kChunkSectors * kChunkSectors + 24;
  }

  // Scans the image through FUSE; null (the test skips) when FUSE is not available.
  std::optional<testing::CliResult> Scan(const std::string& answer, int failing_reads = 0) {
    std::string why;
    auto mount = EioImageMount::Start(dir_ / "card.img", dir_ / "fuse",
                                      {BadSectors{bad_sector_, 1, failing_reads}}, &why);
    if (!mount) {
      skip_reason_ = why;
      return std::nullopt;
    }
    return testing::RunCli(dir_, "scan " + mount->image_path() + " --types png --no-report --out " +
                                     dir_ / "out" + " --read-errors " + answer);
  }

  std::string DayFolder() const { return testing::DayFolderBelow(dir_ / "out"); }
  std::vector<uint8_t> Recovered(int number) const {
    return ReadFileBytes(DayFolder() + "/KES0000" + std::to_string(number) + ".PNG");
  }

  TempDir dir_;
  std::vector<std::vector<uint8_t>> originals_;
  std::vector<testing::PlacedFile> placed_;
  uint64_t bad_sector_ = 0;
  std::string skip_reason_;
};

TEST_F(ScanReadErrorTest, IgnoreGivesTheOtherFilesExactAndOnlyTheFailedChunkAsZeros) {
  for (const char* answer : {"ignore", "ignore-all"}) {
    SCOPED_TRACE(answer);
    auto result = Scan(answer);
    if (!result) GTEST_SKIP() << skip_reason_;
    EXPECT_EQ(result->status, 0) << result->err;
    ASSERT_EQ(testing::RecoveredNames(DayFolder()),
              (std::vector<std::string>{"KES00001.PNG", "KES00002.PNG", "KES00003.PNG"}));
    EXPECT_EQ(Recovered(1), originals_[0]);
    EXPECT_EQ(Recovered(3), originals_[2]);
    // The second picture differs only inside the 64-sector chunk that failed: there what was
    // read before the error is kept and the rest is zeros, the bad sector's bytes included.
    const std::vector<uint8_t> damaged = Recovered(2);
    ASSERT_EQ(damaged.size(), originals_[1].size());
    const uint64_t file_start = placed_[1].start_sector * 512;
    const uint64_t chunk_start = bad_sector_ / kChunkSectors * kChunkSectors * 512;
    const uint64_t chunk_end = chunk_start + kChunkSectors * 512;
    for (size_t i = 0; i < damaged.size(); ++i) {
      const uint64_t at = file_start + i;
      if (at >= bad_sector_ * 512 && at < (bad_sector_ + 1) * 512) {
        ASSERT_EQ(damaged[i], 0) << "byte " << i;
      } else if (at >= chunk_start && at < chunk_end && damaged[i] == 0) {
        continue;
      } else {
        ASSERT_EQ(damaged[i], originals_[1][i]) << "byte " << i;
      }
    }
    EXPECT_TRUE(testing::PartialFiles(DayFolder()).empty());
    std::filesystem::remove_all(dir_ / "out");
  }
}

// Abort ends the run and drops the file it was reading; Retry reads a sector that recovers
// (after three failed reads) whole, and gives up on one that never reads.
TEST_F(ScanReadErrorTest, AbortAndRetry) {
  struct Case {
    const char* answer;
    int failing_reads, status;
    size_t files;
    bool second_whole;
    const char* error;
  };
  for (const Case& c : {Case{"abort", 0, 130, 1, false, ""}, Case{"retry", 3, 0, 3, true, ""},
                        Case{"retry", 0, 0, 3, false, "still unreadable after"}}) {
    SCOPED_TRACE(std::string(c.answer) + " " + std::to_string(c.failing_reads));
    auto result = Scan(c.answer, c.failing_reads);
    if (!result) GTEST_SKIP() << skip_reason_;
    EXPECT_EQ(result->status, c.status) << result->err;
    EXPECT_NE(result->err.find(c.error), std::string::npos) << result->err;
    ASSERT_EQ(testing::RecoveredNames(DayFolder()).size(), c.files);
    EXPECT_EQ(Recovered(1), originals_[0]);
    if (c.files == 3) {
      EXPECT_EQ(Recovered(3), originals_[2]);
    }
    if (c.second_whole) {
      EXPECT_EQ(Recovered(2), originals_[1]);
    }
    EXPECT_TRUE(testing::PartialFiles(DayFolder()).empty());
    std::filesystem::remove_all(dir_ / "out");
  }
}

// Deleted files on FAT: a copy that meets a bad sector costs that file only, whatever the
// read-error answer (this mode never asks): message 57519 names it, the other files are exact.
TEST(DeletedReadErrorTest, ABadSectorCostsOneFileAndLeavesNoPartOfIt) {
  if (!testing::HaveFatTools()) GTEST_SKIP() << "mkfs.fat or mtools missing";
  TempDir dir;
  std::string why;
  auto image = testing::FatImage::Create(dir / "stick.img", 16, 20480, 4, &why);
  ASSERT_TRUE(image) << why;
  std::vector<std::vector<uint8_t>> originals;
  for (uint32_t i = 0; i < 4; ++i) {
    originals.push_back(testing::FatTestBytes(60000 + 7000 * i, 40 + i));
    const std::string name = "/FILE" + std::to_string(i) + ".JPG";
    ASSERT_TRUE(image->WriteFile(name, originals.back()));
  }
  for (uint32_t i = 0; i < 4; ++i) ASSERT_TRUE(image->Delete("/FILE" + std::to_string(i) + ".JPG"));
  // A sector in the middle of FILE1's data: found by its bytes in the image.
  const std::vector<uint8_t> volume = ReadFileBytes(image->path());
  const auto found =
      std::search(volume.begin(), volume.end(), originals[1].begin(), originals[1].begin() + 512);
  ASSERT_NE(found, volume.end());
  const uint64_t bad = static_cast<uint64_t>(found - volume.begin()) / 512 + 40;

  auto mount = EioImageMount::Start(image->path(), dir / "fuse", {BadSectors{bad, 1, 0}}, &why);
  if (!mount) GTEST_SKIP() << why;
  for (const char* answer : {"abort", "retry", "ignore", "ignore-all"}) {
    SCOPED_TRACE(answer);
    auto result =
        testing::RunCli(dir, "deleted " + mount->image_path() + " --types all --no-report --out " +
                                 dir / "out" + " --read-errors " + answer);
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_NE(result.err.find(MessageText(msg::kCannotReadDevice)), std::string::npos)
        << result.err;
    const std::string day = testing::DayFolderBelow(dir / "out");
    const auto names = testing::RecoveredNames(day);
    EXPECT_EQ(std::count(names.begin(), names.end(), "KES_ILE1.JPG"), 0);
    for (const char* kept : {"KES_ILE0.JPG", "KES_ILE2.JPG", "KES_ILE3.JPG"})
      EXPECT_EQ(std::count(names.begin(), names.end(), kept), 1) << kept;
    EXPECT_TRUE(testing::FilesNotWhole(day, originals).empty());
    EXPECT_TRUE(testing::PartialFiles(day).empty());
    std::filesystem::remove_all(dir / "out");
  }
}

}  // namespace
}  // namespace kestrel
