// Split raw images and EWF (E01) evidence images made by split and ewfacquire, read as sources
// by kestrel-cli: what comes back must be what the raw image inside gives, and a damaged or
// incomplete container is refused with a message naming the segment at fault.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "platform/ewf_image.h"
#include "support/cli_runner.h"
#include "support/disk_images.h"
#include "support/fat_image.h"
#include "support/ntfs_image.h"
#include "support/temp_dir.h"

#ifndef KESTREL_NTFS_TOOL_PATH
#define KESTREL_NTFS_TOOL_PATH ""
#endif

namespace kestrel {
namespace {

using testing::CliResult;
using testing::RunCommand;
using testing::TempDir;

class EvidenceImageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::HaveFatTools() || !testing::HaveTool("split")) {
      GTEST_SKIP() << "mkfs.fat, mtools or split is not installed";
    }
  }

  bool CanMakeEwf() const { return EwfSupported() && testing::HaveTool("ewfacquire"); }

  // The E01 image of `raw` named `target`.E01 (segments of `segment_bytes` and more when given).
  std::string MakeEwf(const std::string& raw, const std::string& target,
                      const std::string& segment_bytes = "") {
    const std::string segments = segment_bytes.empty() ? "" : " -S " + segment_bytes;
    EXPECT_EQ(RunCommand("ewfacquire -u -q -t '" + target + "' -f encase6 -c deflate:fast" +
                         segments + " '" + raw + "' >/dev/null 2>&1"),
              0);
    return target + ".E01";
  }

  // The first of `raw`'s segments of `bytes` each, named `prefix`001, 002, ...
  std::string MakeSplit(const std::string& raw, const std::string& prefix, const char* bytes) {
    EXPECT_EQ(RunCommand(std::string("split -b ") + bytes + " -d -a 3 --numeric-suffixes=1 '" +
                         raw + "' '" + prefix + "'"),
              0);
    return prefix + "001";
  }

  // The files a `command` run (scan or deleted) recovers from `source` into a new folder.
  std::map<std::string, std::vector<uint8_t>> Recovered(const std::string& command,
                                                        const std::string& source) {
    const std::string out = dir_ / ("out" + std::to_string(++runs_));
    CliResult result =
        testing::RunCli(dir_, command + " '" + source + "' --no-report --out '" + out + "'");
    EXPECT_EQ(result.status, 0) << source << ": " << result.err;
    return testing::FilesBelow(testing::DayFolderBelow(out));
  }

  // A FAT16 volume with two deleted files and a live one.
  std::string MakeCardWithDeletedFiles() {
    std::string why;
    auto image = testing::FatImage::Create(dir_ / "card.img", 16, 20480, 4, &why);
    EXPECT_TRUE(image) << why;
    if (!image) return "";
    EXPECT_TRUE(image->WriteFile("/KEEP.BIN", testing::FatTestBytes(1500000, 3)));
    EXPECT_TRUE(image->WriteFile("/Summer Photo.jpg", testing::FatTestBytes(300000, 1)));
    EXPECT_TRUE(image->WriteFile("/NOTES.TXT", testing::FatTestBytes(9000, 2)));
    EXPECT_TRUE(image->Delete("/Summer Photo.jpg"));
    EXPECT_TRUE(image->Delete("/NOTES.TXT"));
    return image->path();
  }

  // Random bytes with the shared sample JPEGs planted in them, 8 MiB in all.
  std::string MakePlantedImage() {
    const std::string samples = testing::SamplesDir() + "/exiftool-t-images/";
    const std::string path = dir_ / "planted.img";
    std::string command = "head -c 8M /dev/urandom > '" + path + "'";
    int at = 1;
    for (const char* name : {"Canon.jpg", "Nikon.jpg", "Sony.jpg", "PDF.pdf"}) {
      command += " && dd if='" + samples + name + "' of='" + path +
                 "' bs=512 conv=notrunc status=none seek=" + std::to_string(at++ * 2000);
    }
    EXPECT_EQ(RunCommand(command), 0);
    return path;
  }

  CliResult Scan(const std::string& source, const std::string& extra = "") {
    return testing::RunCli(
        dir_, "scan '" + source + "' --no-report --out '" + dir_ / "refused" + "'" + extra);
  }

  TempDir dir_;
  int runs_ = 0;
};

TEST_F(EvidenceImageTest, DeletedFilesFromSplitAndEwfImagesMatchTheRawImage) {
  const std::string raw = MakeCardWithDeletedFiles();
  ASSERT_FALSE(raw.empty());
  const auto expected = Recovered("deleted", raw);
  ASSERT_EQ(expected.size(), 2u);
  EXPECT_EQ(Recovered("deleted", MakeSplit(raw, dir_ / "card.", "3M")), expected);
  EXPECT_EQ(Recovered("scan", dir_ / "card.001"), Recovered("scan", raw));
  if (!CanMakeEwf()) GTEST_SKIP() << "libewf or ewfacquire is missing";
  // Random file bytes compress little: the image takes several segment files.
  const std::string ewf = MakeEwf(raw, dir_ / "card", "1MiB");
  ASSERT_TRUE(std::filesystem::exists(dir_ / "card.E02"));
  EXPECT_EQ(Recovered("deleted", ewf), expected);
}

TEST_F(EvidenceImageTest, DeletedNtfsFilesFromSplitAndEwfImagesMatchTheRawImage) {
  std::string why;
  auto ntfs = testing::NtfsImage::Create(KESTREL_NTFS_TOOL_PATH, dir_ / "ntfs.img", 16, &why);
  if (!ntfs) GTEST_SKIP() << "no NTFS test volume: " << why;
  ASSERT_TRUE(ntfs->MakeFolder("/Photos") &&
              ntfs->WriteFile("/Photos/beach.jpg", testing::PatternBytes(200000, 4)) &&
              ntfs->WriteFile("/notes.txt", testing::PatternBytes(5000, 5)) &&
              ntfs->Delete("/Photos/beach.jpg") && ntfs->Delete("/notes.txt"));
  const auto expected = Recovered("deleted", ntfs->path());
  ASSERT_EQ(expected.size(), 2u);
  EXPECT_EQ(Recovered("deleted", MakeSplit(ntfs->path(), dir_ / "ntfs.", "5M")), expected);
  if (!CanMakeEwf()) GTEST_SKIP() << "libewf or ewfacquire is missing";
  EXPECT_EQ(Recovered("deleted", MakeEwf(ntfs->path(), dir_ / "ntfs")), expected);
}

TEST_F(EvidenceImageTest, CarvedFilesFromSplitAndEwfImagesMatchTheRawImage) {
  if (testing::SamplesDir().empty()) GTEST_SKIP() << "the shared samples are missing";
  const std::string raw = MakePlantedImage();
  const auto expected = Recovered("scan", raw);
  ASSERT_GE(expected.size(), 4u);
  EXPECT_EQ(Recovered("scan", MakeSplit(raw, dir_ / "planted.", "3000000")), expected);
  ASSERT_EQ(RunCommand("split -b 1M '" + raw + "' '" + dir_ / "x" + "'"), 0);
  EXPECT_EQ(Recovered("scan", dir_ / "xaa"), expected);
  if (!CanMakeEwf()) GTEST_SKIP() << "libewf or ewfacquire is missing";
  EXPECT_EQ(Recovered("scan", MakeEwf(raw, dir_ / "planted")), expected);
}

TEST_F(EvidenceImageTest, WholeDiskContainersGiveTheirPartitionsLetters) {
  const std::string raw = dir_ / "disk.img";
  ASSERT_TRUE(testing::MakeTwoPartitionDisk(raw, "PARTTWO"));
  std::string map = "disk " + raw + "\ndisk " + MakeSplit(raw, dir_ / "disk.", "10M") + "\n";
  if (CanMakeEwf()) map += "disk " + MakeEwf(raw, dir_ / "disk") + "\n";
  std::ofstream(dir_ / "devices.conf") << map;
  CliResult result = testing::RunCli(dir_, "sources");
  ASSERT_EQ(result.status, 0) << result.err;
  std::vector<std::string> lines = result.OutLines();
  // Every container lists the raw disk's volumes, with their labels, under letters of its own.
  const size_t disks = CanMakeEwf() ? 3 : 2;
  ASSERT_GE(lines.size(), 2 * disks);
  for (size_t disk = 0; disk < disks; ++disk) {
    const char first = static_cast<char>('C' + 2 * disk);
    EXPECT_EQ(lines[2 * disk], std::string(" PARTONE (") + first + ":)");
    EXPECT_EQ(lines[2 * disk + 1], std::string(" PARTTWO (") + static_cast<char>(first + 1) + ":)");
  }
  // A letter of the split disk reads its partition as the raw disk's letter does.
  EXPECT_EQ(Recovered("scan", "E:"), Recovered("scan", "C:"));
}

TEST_F(EvidenceImageTest, MissingOrDamagedSplitSegmentsAreNamed) {
  const std::string raw = dir_ / "noise.img";
  ASSERT_EQ(RunCommand("head -c 4M /dev/urandom > '" + raw + "'"), 0);
  const std::string first = MakeSplit(raw, dir_ / "noise.", "1M");
  std::filesystem::rename(dir_ / "noise.002", dir_ / "aside");
  CliResult missing = Scan(first);
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("segment " + dir_ / "noise.002" + " of the split image is missing"),
            std::string::npos)
      << missing.err;

  ASSERT_EQ(RunCommand("head -c 1000 '" + dir_ / "aside" + "' > '" + dir_ / "noise.002" + "'"), 0);
  CliResult short_segment = Scan(first);
  EXPECT_EQ(short_segment.status, 1);
  EXPECT_NE(short_segment.err.find(dir_ / "noise.002" + " of the split image is 1000 bytes long"),
            std::string::npos)
      << short_segment.err;
  EXPECT_FALSE(std::filesystem::exists(dir_ / "refused"));
}

TEST_F(EvidenceImageTest, IncompleteEwfImagesAreNamedAndCorruptChunksAreReadErrors) {
  if (!CanMakeEwf()) GTEST_SKIP() << "libewf or ewfacquire is missing";
  const std::string raw = dir_ / "noise.img";
  ASSERT_EQ(RunCommand("head -c 4M /dev/urandom > '" + raw + "'"), 0);
  const std::string first = MakeEwf(raw, dir_ / "noise", "1MiB");
  ASSERT_TRUE(std::filesystem::exists(dir_ / "noise.E04"));

  std::filesystem::rename(dir_ / "noise.E02", dir_ / "aside");
  CliResult missing = Scan(first);
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("segment " + dir_ / "noise.E02" + " of the EWF image is missing"),
            std::string::npos)
      << missing.err;
  std::filesystem::rename(dir_ / "aside", dir_ / "noise.E02");

  std::filesystem::resize_file(dir_ / "noise.E02", 200000);
  CliResult truncated = Scan(first);
  EXPECT_EQ(truncated.status, 1);
  EXPECT_NE(truncated.err.find("the EWF image is incomplete"), std::string::npos) << truncated.err;
  EXPECT_FALSE(std::filesystem::exists(dir_ / "refused"));

  // A chunk whose stored checksum no longer matches: its sectors fail to read, and a run told
  // to abort at a read error stops there.
  const std::string copy = MakeEwf(raw, dir_ / "damaged", "1MiB");
  ASSERT_EQ(RunCommand("printf 'XXXXXXXX' | dd of='" + dir_ / "damaged.E02" +
                       "' bs=1 seek=500000 conv=notrunc status=none"),
            0);
  EXPECT_EQ(Scan(copy, " --read-errors abort").status, 130);
  EXPECT_EQ(Scan(copy, " --read-errors ignore-all").status, 0);
}

}  // namespace
}  // namespace kestrel
