#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "output/recovered_output.h"
#include "platform/clock.h"
#include "platform/settings_store.h"
#include "run/file_types.h"
#include "run/messages.h"
#include "support/cli_runner.h"
#include "support/exfat_image.h"
#include "support/fat_image.h"
#include "support/ntfs_image.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

using testing::CliResult;
using testing::FatImage;
using testing::FatTestBytes;
using testing::RunCommand;
using testing::TempDir;

// Runs kestrel-cli deleted on FAT images made with mkfs.fat and mtools, without the machine's
// block devices and with a settings file of its own.
class DeletedCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::HaveFatTools()) GTEST_SKIP() << "mkfs.fat or mtools is not installed";
    std::string why;
    auto image = FatImage::Create(dir_ / "card.img", 16, 20480, 4, &why);
    ASSERT_TRUE(image) << why;
    photo_ = FatTestBytes(1000, 1);
    notes_ = FatTestBytes(3000, 2);
    ASSERT_TRUE(image->MakeFolder("/DCIM"));
    ASSERT_TRUE(image->WriteFile("/DCIM/KEEP.JPG", FatTestBytes(100, 3)));
    ASSERT_TRUE(image->WriteFile("/DCIM/Summer Photo.jpg", photo_));
    ASSERT_TRUE(image->WriteFile("/NOTES.TXT", notes_));
    ASSERT_TRUE(image->Delete("/DCIM/Summer Photo.jpg"));
    ASSERT_TRUE(image->Delete("/NOTES.TXT"));
    image_ = image->path();
  }

  CliResult Run(const std::string& arguments, const std::string& extra_env = "") {
    std::ofstream(dir_ / "devices.conf", std::ios::trunc) << devices_;
    return testing::RunCli(dir_, arguments, extra_env);
  }

  // The run folder below dir_/`out`, with a final "/"; empty when there is not one.
  std::string OnlySubfolder(const std::string& out) const {
    const std::string day = testing::DayFolderBelow(dir_ / out);
    return day.empty() ? "" : day + "/";
  }

  TempDir dir_;
  std::string image_;
  std::string devices_;
  std::vector<uint8_t> photo_, notes_;
};

TEST_F(DeletedCommandTest, ListsRecoveredFilesThenTheClosingMessage) {
  CliResult result = Run("deleted '" + image_ + "' --out '" + dir_ / "out" + "'");
  ASSERT_EQ(result.status, 0) << result.err;
  const std::string run_folder = OnlySubfolder("out");
  ASSERT_FALSE(run_folder.empty());
  // The whole volume: the root and every folder below it; the live KEEP.JPG stays out.
  EXPECT_EQ(result.OutLines(), (std::vector<std::string>{
                                   "Summer Photo.jpg\t1 KB\t" + run_folder,
                                   "KES_OTES.TXT\t3 KB\t" + run_folder,
                                   std::string(MessageText(msg::kCompleted)),
                               }));
  EXPECT_EQ(testing::ReadFileBytes(run_folder + "KES_OTES.TXT"), notes_);

  CliResult folder = Run("deleted '" + image_ + "' --folder /dcim --out '" + dir_ / "dcim" + "'");
  ASSERT_EQ(folder.status, 0) << folder.err;
  const std::string dcim_folder = OnlySubfolder("dcim");
  EXPECT_EQ(folder.OutLines().front(), "Summer Photo.jpg\t1 KB\t" + dcim_folder);
  EXPECT_EQ(folder.OutLines().size(), 2u);
  EXPECT_EQ(testing::ReadFileBytes(dcim_folder + "Summer Photo.jpg"), photo_);
}

TEST_F(DeletedCommandTest, ListPrintsWhatARunWouldRecoverAndCreatesNothing) {
  const std::string out = dir_ / "out";
  CliResult result = Run("deleted '" + image_ + "' --list --out '" + out + "'");
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.OutLines(), (std::vector<std::string>{"/DCIM/Summer Photo.jpg\t1000\tintact",
                                                         "/KES_OTES.TXT\t3000\tintact"}));
  EXPECT_FALSE(std::filesystem::exists(out));  // not even the run folder

  CliResult json = Run("deleted '" + image_ + "' --list --json --folder /DCIM");
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(json.OutLines(),
            std::vector<std::string>{
                R"({"path": "/DCIM/Summer Photo.jpg", "original_name": "Summer Photo.jpg", )"
                R"("bytes": 1000, "state": "intact"})"});

  CliResult usage = Run("deleted '" + image_ + "' --list --keep-paths");
  EXPECT_EQ(usage.status, 2);
}

TEST_F(DeletedCommandTest, KeepPathsRecreatesTheVolumeFolders) {
  CliResult result = Run("deleted '" + image_ + "' --keep-paths --out '" + dir_ / "out" + "'");
  ASSERT_EQ(result.status, 0) << result.err;
  const std::string run_folder = OnlySubfolder("out");
  ASSERT_FALSE(run_folder.empty());
  EXPECT_EQ(testing::ReadFileBytes(run_folder + "DCIM/Summer Photo.jpg"), photo_);
  EXPECT_EQ(testing::ReadFileBytes(run_folder + "KES_OTES.TXT"), notes_);
  EXPECT_FALSE(std::filesystem::exists(run_folder + "Summer Photo.jpg"));
}

TEST_F(DeletedCommandTest, JsonLinesAndLetterSources) {
  devices_ = "G: " + image_ + "\n";
  CliResult result = Run("deleted G: --folder /DCIM --json --out '" + dir_ / "out" + "'");
  ASSERT_EQ(result.status, 0) << result.err;
  const std::string run_folder = OnlySubfolder("out");
  ASSERT_EQ(result.OutLines().size(), 2u);
  EXPECT_EQ(result.OutLines()[0],
            "{\"name\": \"Summer Photo.jpg\", \"original_name\": \"Summer Photo.jpg\", "
            "\"bytes\": 1000, \"size_kb\": \"1 KB\", "
            "\"folder\": \"" +
                run_folder + "\", \"path\": \"" + run_folder +
                "Summer Photo.jpg\", \"created\": true}");
  EXPECT_EQ(result.OutLines()[1],
            "{\"message_id\": 112, \"message\": \"Recovery process completed "
            "successfully.\"}");
}

TEST_F(DeletedCommandTest, TypesOptionAndStoredSettings) {
  CliResult jpg = Run("deleted '" + image_ + "' --types jpg --out '" + dir_ / "a" + "'");
  ASSERT_EQ(jpg.status, 0) << jpg.err;
  // NOTES.TXT is not wanted; the picture in DCIM is.
  ASSERT_EQ(jpg.OutLines().size(), 2u);
  EXPECT_EQ(jpg.OutLines()[0].substr(0, 17), "Summer Photo.jpg\t");

  CliResult all = Run("deleted '" + image_ + "' --types all --out '" + dir_ / "b" + "'");
  EXPECT_EQ(all.OutLines().size(), 3u);

  // The stored folder and selection apply without options: only PDF selected, not "all files".
  SettingsStore settings(dir_ / "registry.reg");
  ASSERT_TRUE(settings.SetString("Default Folder", dir_ / "stored"));
  ASSERT_TRUE(settings.SetByte("Scan File", 0));
  for (const FileTypeEntry& type : FileTypeCatalogue()) {
    ASSERT_TRUE(settings.SetByte(std::string(type.name), type.name == "PDF" ? 1 : 0));
  }
  CliResult stored = Run("deleted '" + image_ + "'");
  ASSERT_EQ(stored.status, 0) << stored.err;
  EXPECT_EQ(stored.out, std::string(MessageText(msg::kNothingFound)) + "\n");
  EXPECT_FALSE(OnlySubfolder("stored").empty());

  ASSERT_TRUE(settings.SetByte("Scan File", 1));
  CliResult scan_all = Run("deleted '" + image_ + "'");
  EXPECT_EQ(scan_all.OutLines().size(), 3u);
}

// Refused runs create nothing, not even the day folder: also those refused by the search, after
// the boot sector was taken (a FAT volume without a FAT, a folder that does not exist).
TEST_F(DeletedCommandTest, RefusalsAndUsageErrors) {
  std::vector<std::pair<std::string, int>> refused = {
      {"truncate -s 2M $IMG", msg::kNoFileSystem},
      {"cp '" + image_ + "' $IMG && printf '\\0' | dd of=$IMG bs=1 seek=16 conv=notrunc",
       msg::kNoFileSystem},
  };
  if (testing::HaveTool("mkfs.exfat")) {
    refused.push_back({testing::kBrokenExfat, msg::kExfatRefused});
  }
  for (const auto& [make, message] : refused) {
    SCOPED_TRACE(make);
    ASSERT_EQ(RunCommand("IMG='" + dir_ / "refused.img" + "'; " + make), 0);
    CliResult result = Run("deleted '" + dir_ / "refused.img" + "' --out '" + dir_ / "out" + "'");
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(result.OutLines().empty());
    EXPECT_NE(result.err.find(MessageText(message)), std::string::npos) << result.err;
    EXPECT_FALSE(std::filesystem::exists(dir_ / "out"));
  }

  CliResult no_folder = Run("deleted '" + image_ + "' --folder /Nope --out '" + dir_ / "out" + "'");
  EXPECT_EQ(no_folder.status, 1);
  EXPECT_NE(no_folder.err.find(MessageText(msg::kFolderNotFound)), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "out"));

  EXPECT_EQ(Run("deleted").status, 2);
  EXPECT_EQ(Run("deleted '" + image_ + "' --types XYZ").status, 2);
  devices_ = "disk " + image_ + "\n";
  EXPECT_EQ(Run("deleted disk0 --out '" + dir_ / "out" + "'").status, 2);
}

// The run folder on the volume being read: a FAT image attached to a loop device whose file
// system (by the mount table the test hands over) holds the recovery folder.
TEST_F(DeletedCommandTest, RunFolderOnTheSourceIsRefused) {
  if (geteuid() != 0 || !testing::HaveTool("losetup")) GTEST_SKIP() << "needs root and losetup";
  std::string loop;
  if (RunCommand("losetup --find --show --read-only '" + image_ + "'", &loop) != 0) {
    GTEST_SKIP() << "no loop device: " << loop;
  }
  while (!loop.empty() && loop.back() == '\n') loop.pop_back();
  struct stat st {};
  ASSERT_EQ(::stat(loop.c_str(), &st), 0);
  std::filesystem::create_directories(dir_ / "mnt");
  std::string mount_point = std::filesystem::canonical(dir_ / "mnt").string();
  std::ofstream(dir_ / "mountinfo") << "100 1 " << major(st.st_rdev) << ":" << minor(st.st_rdev)
                                    << " / " << mount_point << " rw - vfat " << loop << " rw\n";
  CliResult result = Run("deleted " + loop + " --out '" + mount_point + "'",
                         "KESTREL_MOUNTINFO='" + dir_ / "mountinfo" + "'");
  RunCommand("losetup -d " + loop);
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find(MessageText(msg::kSameDrive).substr(0, 40)), std::string::npos)
      << result.err;
  EXPECT_TRUE(result.OutLines().empty());
}

// FAT and NTFS volumes holding the same deleted files, one of them in the folder Photos/Trip:
// every file system goes through the same recovery loop, so a run ends the same way on both.
class BothFileSystemsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::HaveFatTools()) GTEST_SKIP() << "mkfs.fat or mtools is not installed";
    std::string why;
    auto ntfs = testing::NtfsImage::Create(KESTREL_NTFS_TOOL_PATH, dir_ / "ntfs.img", 16, &why);
    if (!ntfs) GTEST_SKIP() << "no NTFS test volume: " << why;
    auto fat = FatImage::Create(dir_ / "fat.img", 16, 20480, 4, &why);
    ASSERT_TRUE(fat) << why;
    beach_ = FatTestBytes(3000, 5);
    top_ = FatTestBytes(700, 6);
    ASSERT_TRUE(fat->MakeFolder("/Photos"));
    ASSERT_TRUE(fat->MakeFolder("/Photos/Trip"));
    ASSERT_TRUE(fat->WriteFile("/Photos/Trip/beach.jpg", beach_));
    ASSERT_TRUE(fat->WriteFile("/top.jpg", top_, kTopModified));
    ASSERT_TRUE(fat->Delete("/Photos/Trip/beach.jpg"));
    ASSERT_TRUE(fat->Delete("/top.jpg"));
    const bool written = ntfs->MakeFolder("/Photos") && ntfs->MakeFolder("/Photos/Trip") &&
                         ntfs->WriteFile("/Photos/Trip/beach.jpg", beach_) &&
                         ntfs->WriteFile("/top.jpg", top_) &&
                         ntfs->SetTimes("/top.jpg", kTopModified, kTopAccessed) &&
                         ntfs->Delete("/Photos/Trip/beach.jpg") && ntfs->Delete("/top.jpg");
    if (!written) GTEST_SKIP() << "the NTFS helper could not write and delete the files";
    // A deleted short name has lost its first letter: FAT writes "KES_" in its place.
    volumes_ = {{fat->path(), "KES_EACH.JPG", "KES_OP.JPG"},
                {ntfs->path(), "beach.jpg", "top.jpg"}};
  }

  testing::CliResult Run(const std::string& image, const std::string& options) {
    return testing::RunCli(dir_, "deleted '" + image + "' --types all " + options);
  }

  // 2019-06-01 14:30:08 UTC (FAT keeps even seconds) and 2021-03-04 05:06:07 UTC.
  static constexpr int64_t kTopModified = 1559399408;
  static constexpr int64_t kTopAccessed = 1614834367;

  struct Volume {
    std::string image;
    std::string beach;  // the names the files come back under
    std::string top;
  };

  TempDir dir_;
  std::vector<Volume> volumes_;  // FAT, then NTFS
  std::vector<uint8_t> beach_, top_;
};

TEST_F(BothFileSystemsTest, KeepPathsRecreatesTheFoldersOnFatAndNtfs) {
  for (const Volume& v : volumes_) {
    SCOPED_TRACE(v.image);
    const std::string out = dir_ / ("out-" + std::filesystem::path(v.image).stem().string());
    testing::CliResult result = Run(v.image, "--keep-paths --out '" + out + "'");
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string run_folder = testing::DayFolderBelow(out) + "/";
    EXPECT_EQ(testing::ReadFileBytes(run_folder + "Photos/Trip/" + v.beach), beach_);
    EXPECT_FALSE(std::filesystem::exists(run_folder + v.beach));
    EXPECT_EQ(testing::ReadFileBytes(run_folder + v.top), top_);
    EXPECT_EQ(result.OutLines(), (std::vector<std::string>{
                                     v.beach + "\t3 KB\t" + run_folder + "Photos/Trip/",
                                     v.top + "\t1 KB\t" + run_folder,
                                     std::string(MessageText(msg::kCompleted)),
                                 }));
  }
}

// A path the recovery folder's file system refuses (a file stands where the folder Photos/Trip
// is to be made) costs that file only, on both: it is not listed, it is named with the reason on
// stderr, the closing message counts it and the exit status is 3; the run goes on.
TEST_F(BothFileSystemsTest, AFileThatCannotBeWrittenIsNamedAndCountedOnFatAndNtfs) {
  for (const Volume& v : volumes_) {
    SCOPED_TRACE(v.image);
    const std::string out = dir_ / ("out-" + std::filesystem::path(v.image).stem().string());
    const std::string day = DayFolderPath(out, Today());
    std::filesystem::create_directories(day + "/Photos");
    testing::WriteFileBytes(day + "/Photos/Trip", {1});
    testing::CliResult result = Run(v.image, "--keep-paths --out '" + out + "'");
    EXPECT_EQ(result.status, 3) << result.err;
    EXPECT_EQ(result.OutLines(), (std::vector<std::string>{
                                     v.top + "\t1 KB\t" + day + "/",
                                     FormatMessage(msg::kCompletedWithFilesNotWritten, "1"),
                                 }));
    EXPECT_NE(result.err.find("not written: /Photos/Trip/" + v.beach + " (cannot make the folder " +
                              day + "/Photos/Trip: " + std::strerror(ENOTDIR) + ")"),
              std::string::npos)
        << result.err;
    EXPECT_EQ(testing::ReadFileBytes(day + "/" + v.top), top_);
  }
}

// Links in the recovery folder are never followed, on both: a day folder that is a link refuses
// the run (and a scan), naming it; a --keep-paths folder that is a link costs the files below it
// (named on stderr). Nothing lands in the folder the links point to.
TEST_F(BothFileSystemsTest, LinksInTheRecoveryFolderAreNeverFollowed) {
  for (const Volume& v : volumes_) {
    SCOPED_TRACE(v.image);
    const std::string base = dir_ / ("links-" + std::filesystem::path(v.image).stem().string());
    const std::string elsewhere = base + "/elsewhere";
    std::filesystem::create_directories(elsewhere);

    const std::string linked_out = base + "/linked-day";
    const std::string day_link = DayFolderPath(linked_out, Today());
    std::filesystem::create_directories(linked_out);
    std::filesystem::create_directory_symlink(elsewhere, day_link);
    testing::CliResult refused = Run(v.image, "--out '" + linked_out + "'");
    EXPECT_EQ(refused.status, 1) << refused.err;
    EXPECT_NE(refused.err.find(FormatMessage(msg::kFolderIsLink, day_link)), std::string::npos)
        << refused.err;
    EXPECT_TRUE(refused.OutLines().empty());
    testing::CliResult scan =
        testing::RunCli(dir_, "scan '" + v.image + "' --out '" + linked_out + "'");
    EXPECT_EQ(scan.status, 1) << scan.err;
    EXPECT_NE(scan.err.find(FormatMessage(msg::kFolderIsLink, day_link)), std::string::npos)
        << scan.err;

    const std::string out = base + "/out";
    const std::string day = DayFolderPath(out, Today());
    std::filesystem::create_directories(day);
    std::filesystem::create_directory_symlink(elsewhere, day + "/Photos");
    testing::CliResult kept = Run(v.image, "--keep-paths --out '" + out + "'");
    EXPECT_EQ(kept.status, 3) << kept.err;
    EXPECT_NE(kept.err.find("not written: /Photos/Trip/" + v.beach + " (" +
                            FormatMessage(msg::kFolderIsLink, day + "/Photos") + ")"),
              std::string::npos)
        << kept.err;
    EXPECT_EQ(testing::ReadFileBytes(day + "/" + v.top), top_);
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere)) << "a file went through a link";
  }
}

// A restored file gets the modification time its file system recorded (and NTFS's access time;
// FAT keeps only an access date); a file whose entry was written without a chosen time, like a
// carved one, has a time of its own, never the one of another file.
TEST_F(BothFileSystemsTest, RestoredFilesKeepTheirOriginalTimes) {
  for (const Volume& v : volumes_) {
    SCOPED_TRACE(v.image);
    const std::string out = dir_ / ("out-" + std::filesystem::path(v.image).stem().string());
    testing::CliResult result = Run(v.image, "--out '" + out + "'");
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string run_folder = testing::DayFolderBelow(out) + "/";
    struct stat top {};
    ASSERT_EQ(stat((run_folder + v.top).c_str(), &top), 0);
    EXPECT_EQ(top.st_mtim.tv_sec, kTopModified);
    const bool fat = v.top != "top.jpg";
    // FAT's access date is a day: mcopy -m gives it the modification's.
    if (fat) {
      EXPECT_EQ(top.st_atim.tv_sec, kTopModified - kTopModified % 86400);
    } else {
      EXPECT_EQ(top.st_atim.tv_sec, kTopAccessed);
    }
    struct stat beach {};
    ASSERT_EQ(stat((run_folder + v.beach).c_str(), &beach), 0);
    EXPECT_GT(beach.st_mtim.tv_sec, kTopModified + 86400 * 365);
  }
}

}  // namespace
}  // namespace kestrel
