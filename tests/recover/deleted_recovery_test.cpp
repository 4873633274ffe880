#include "recover/deleted_recovery.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>

#include "fs/fat/fat_recovery.h"
#include "fs/fat/fat_volume.h"
#include "output/recovered_output.h"
#include "platform/settings_store.h"
#include "run/messages.h"
#include "support/exfat_image.h"
#include "support/fake_run_ui.h"
#include "support/fat_image.h"
#include "support/file_size_limit.h"
#include "support/ntfs_image.h"
#include "support/param_names.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

#ifndef KESTREL_NTFS_TOOL_PATH
#define KESTREL_NTFS_TOOL_PATH ""
#endif

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using testing::FakeRunUi;
using testing::FatImage;
using testing::FatTestBytes;
using testing::ReadFileBytes;
using testing::TempDir;

struct Recovery {
  RunResult result;
  FakeRunUi ui;
  std::string run_folder;  // ends with "/", empty when none was made
  std::vector<std::string> files;
  std::vector<uint8_t> File(const std::string& name) const {
    return ReadFileBytes(run_folder + name);
  }
};

struct RecoverOptions {
  std::string folder = "/";
  TypeSet mask = kAllFileTypesMask;
  uint8_t scan_all = 1;
  std::function<void(RunContext&, FakeRunUi&)> on_pump;
  DeletedReport* report = nullptr;
  bool keep_paths = false;
  std::string recovery_folder = "out";  // below the test folder
  std::function<void(const RunProgress&)> on_progress;
};

class DeletedRecoveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::HaveFatTools()) GTEST_SKIP() << "mkfs.fat or mtools is not installed";
  }

  FatImage MakeImage(int bits, const std::string& name = "volume.img") {
    std::string why;
    // FAT32 needs 65525 clusters: 40 MB with one sector per cluster.
    auto image = bits == 32   ? FatImage::Create(dir_ / name, 32, 40000, 1, &why)
                 : bits == 16 ? FatImage::Create(dir_ / name, 16, 20480, 4, &why)
                              : FatImage::Create(dir_ / name, 12, 1440, 0, &why);
    EXPECT_TRUE(image) << why;
    return *image;
  }

  std::unique_ptr<Recovery> Recover(const std::string& image_path,
                                    const RecoverOptions& options = {}) {
    auto recovery = std::make_unique<Recovery>();
    RunContext run(recovery->ui);
    recovery->ui.on_progress = options.on_progress;
    if (options.on_pump) {
      recovery->ui.on_pump = [&run, &recovery, &options] { options.on_pump(run, recovery->ui); };
    }
    DeletedPlan plan;
    plan.types.mask = options.mask;
    plan.types.scan_all = options.scan_all;
    plan.source.path = image_path;
    plan.folder = options.folder;
    plan.recovery_folder = dir_ / options.recovery_folder;
    plan.options.keep_paths = options.keep_paths;
    plan.options.report = options.report;
    plan.options.dfxml.enabled = false;  // the run folder holds the recovered files only
    SettingsStore settings(dir_ / "registry.reg");
    ApplyStoredChoices(settings, &plan.types, &plan.recovery_folder);
    recovery->result = RecoverDeletedFiles(run, plan);
    recovery->run_folder = run.run_folder();
    if (!run.run_folder().empty()) recovery->files = testing::ListFiles(run.run_folder());
    return recovery;
  }

  TempDir dir_;
  testing::ScopedEnv no_devices_{"KESTREL_NO_DEVICES", "1"};
  testing::ScopedEnv registry_{"KESTREL_REGISTRY", dir_ / "registry.reg"};
};

// The same volume content on FAT12, FAT16 and FAT32.
class DeletedRecoveryEveryFatTest : public DeletedRecoveryTest,
                                    public ::testing::WithParamInterface<int> {};

TEST_P(DeletedRecoveryEveryFatTest, BringsBackDeletedFilesUnderTheirNames) {
  FatImage image = MakeImage(GetParam());
  const auto photo = FatTestBytes(1000, 1);        // one sector and a tail of 488 bytes
  const auto long_named = FatTestBytes(10000, 2);  // several clusters
  const auto beach = FatTestBytes(3000, 3);
  const auto kept = FatTestBytes(700, 4);
  const auto trip_short = FatTestBytes(512, 5);
  ASSERT_TRUE(image.WriteFile("/PHOTO.JPG", photo));
  ASSERT_TRUE(image.WriteFile("/Long File Name.jpg", long_named));
  ASSERT_TRUE(image.WriteFile("/EMPTY.TXT", {}));
  ASSERT_TRUE(image.WriteFile("/KEEP.JPG", kept));
  ASSERT_TRUE(image.MakeFolder("/Trip"));
  ASSERT_TRUE(image.WriteFile("/Trip/Beach Day.jpg", beach));
  ASSERT_TRUE(image.WriteFile("/Trip/SHORT.PNG", trip_short));
  ASSERT_TRUE(image.Delete("/PHOTO.JPG"));
  ASSERT_TRUE(image.Delete("/Long File Name.jpg"));
  ASSERT_TRUE(image.Delete("/EMPTY.TXT"));
  ASSERT_TRUE(image.DeleteTree("/Trip"));

  RecoverOptions options;
  std::vector<RunProgress> progress;
  options.on_progress = [&progress](const RunProgress& p) { progress.push_back(p); };
  auto recovery = Recover(image.path(), options);
  EXPECT_EQ(recovery->result.outcome, RunOutcome::kCompleted);
  EXPECT_EQ(recovery->ui.MessageIds(), std::vector<int>{msg::kCompleted});
  // The copy reports the bytes of the files dealt with, rising to all of them.
  ASSERT_FALSE(progress.empty());
  for (size_t i = 0; i < progress.size(); ++i) {
    EXPECT_EQ(progress[i].activity, Activity::kCopying);
    EXPECT_EQ(progress[i].bytes_total, 1000u + 10000 + 3000 + 512);
    if (i > 0) {
      EXPECT_GE(progress[i].bytes_done, progress[i - 1].bytes_done);
    }
  }
  EXPECT_EQ(progress.back().bytes_done, progress.back().bytes_total);
  EXPECT_EQ(progress.back().files_recovered, 5u);
  EXPECT_EQ(recovery->files,
            (std::vector<std::string>{"Beach Day.jpg", "KES_HORT.PNG", "KES_HOTO.JPG",
                                      "KES_MPTY.TXT", "Long File Name.jpg"}));
  EXPECT_EQ(recovery->File("KES_HOTO.JPG"), photo);
  EXPECT_EQ(recovery->File("Long File Name.jpg"), long_named);
  EXPECT_EQ(recovery->File("Beach Day.jpg"), beach);
  EXPECT_EQ(recovery->File("KES_HORT.PNG"), trip_short);
  EXPECT_TRUE(recovery->File("KES_MPTY.TXT").empty());
  EXPECT_EQ(recovery->result.recovered, 5u);
  EXPECT_EQ(recovery->ui.recovered_count, " 5");

  // The results list: one row per file, in the order written (last found first).
  ASSERT_EQ(recovery->ui.rows.size(), 5u);
  EXPECT_EQ(recovery->ui.rows.front().name, "KES_HORT.PNG");
  EXPECT_EQ(recovery->ui.rows.back().name, "KES_HOTO.JPG");
  for (const ResultRow& row : recovery->ui.rows) {
    EXPECT_EQ(row.folder_text, recovery->run_folder);
    EXPECT_TRUE(row.created);
  }
  EXPECT_EQ(recovery->ui.rows.back().size_text, "1 KB");
}

// Live files stay out, but the files of the recycled folder come back, also beside a selected
// folder.
TEST_P(DeletedRecoveryEveryFatTest, SelectedFolderKeepsItsLiveFilesAndTheRecycledComeBack) {
  FatImage image = MakeImage(GetParam());
  const auto gone = FatTestBytes(5000, 7);
  const auto binned = FatTestBytes(2000, 9);
  for (const char* folder : {"/DCIM", "/DCIM/100CANON", "/RECYCLED", "/RECYCLED/DC1"}) {
    ASSERT_TRUE(image.MakeFolder(folder));
  }
  ASSERT_TRUE(image.WriteFile("/DCIM/100CANON/IMG_0001.JPG", gone));
  ASSERT_TRUE(image.WriteFile("/DCIM/100CANON/IMG_0002.JPG", FatTestBytes(800, 8)));
  ASSERT_TRUE(image.WriteFile("/RECYCLED/DC1/Binned Picture.jpg", binned));
  ASSERT_TRUE(image.Delete("/DCIM/100CANON/IMG_0001.JPG"));

  for (const char* folder : {"/DCIM/100CANON", "/"}) {
    SCOPED_TRACE(folder);
    RecoverOptions options;
    options.folder = folder;
    options.recovery_folder = folder[1] == 0 ? "root" : "dcim";
    auto recovery = Recover(image.path(), options);
    EXPECT_EQ(recovery->result.outcome, RunOutcome::kCompleted);
    EXPECT_EQ(recovery->files, (std::vector<std::string>{"Binned Picture.jpg", "KES_MG_0001.JPG"}));
    EXPECT_EQ(recovery->File("KES_MG_0001.JPG"), gone);
    EXPECT_EQ(recovery->File("Binned Picture.jpg"), binned);
  }
}

// Writes `count` files named "entry number N.txt" into `folder` with one mcopy call.
void WriteManyFiles(const FatImage& image, const std::string& staging, const std::string& folder,
                    int count) {
  std::filesystem::create_directories(staging);
  for (int i = 0; i < count; ++i) {
    testing::WriteFileBytes(staging + "/entry number " + std::to_string(i) + ".txt",
                            FatTestBytes(40, 100 + i));
  }
  ASSERT_EQ(testing::RunCommand("MTOOLS_SKIP_CHECK=1 mcopy -i '" + image.path() + "' '" + staging +
                                "'/* ::" + folder + "/"),
            0);
}

TEST_P(DeletedRecoveryEveryFatTest, EveryFolderBelowTheSelectionIsSearched) {
  FatImage image = MakeImage(GetParam());
  struct Gone {
    std::string path;      // inside the volume
    std::string restored;  // the name it comes back under
    std::vector<uint8_t> content;
  };
  const std::vector<Gone> gone = {
      {"/Rootfile", "Rootfile", FatTestBytes(700, 40)},
      {"/NOEXT", "KES_OEXT", FatTestBytes(600, 49)},
      {"/L1/Two.ab", "Two.ab", FatTestBytes(2500, 41)},
      {"/L1/L2/Digit.1", "Digit.1", FatTestBytes(1200, 42)},
      {"/L1/L2/AB.CD", "KES_B.CD", FatTestBytes(100, 50)},
      {"/L1/L2/L3/deep note.txt", "deep note.txt", FatTestBytes(9000, 43)},
      {"/GONE/gone pic.jpg", "gone pic.jpg", FatTestBytes(4100, 45)},
      {"/GONE/SUB/inside gone.bin", "inside gone.bin", FatTestBytes(3000, 44)},
      {"/MANY/entry number 7.txt", "entry number 7.txt", FatTestBytes(40, 107)},
      {"/MANY/entry number 299.txt", "entry number 299.txt", FatTestBytes(40, 399)},
      {"/LATE/Late.jpg", "Late.jpg", FatTestBytes(5000, 46)}};
  for (const char* folder : {"/L1", "/L1/L2", "/L1/L2/L3", "/GONE", "/GONE/SUB", "/MANY"}) {
    ASSERT_TRUE(image.MakeFolder(folder));
  }
  ASSERT_TRUE(image.WriteFile("/L1/live one.txt", FatTestBytes(300, 47)));
  ASSERT_TRUE(image.WriteFile("/L1/L2/L3/live two.txt", FatTestBytes(300, 48)));
  WriteManyFiles(image, dir_ / "many", "/MANY", 300);  // a folder of many clusters
  ASSERT_TRUE(image.MakeFolder("/LATE"));              // made after the others
  for (const Gone& file : gone) {
    if (file.path.rfind("/MANY/", 0) != 0) {
      ASSERT_TRUE(image.WriteFile(file.path, file.content));
    }
  }
  for (const Gone& file : gone) {
    if (file.path.rfind("/GONE/", 0) != 0) {
      ASSERT_TRUE(image.Delete(file.path));
    }
  }
  ASSERT_TRUE(image.DeleteTree("/GONE"));

  auto recovery = Recover(image.path());
  EXPECT_EQ(recovery->result.outcome, RunOutcome::kCompleted);
  std::vector<std::string> expected;
  for (const Gone& file : gone) {
    expected.push_back(file.restored);
    EXPECT_EQ(recovery->File(file.restored), file.content) << file.path;
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(recovery->files, expected);  // and no live file

  // A folder below the root: only what lies below it.
  RecoverOptions below;
  below.folder = "/L1/L2";
  auto l2 = Recover(image.path(), below);
  EXPECT_EQ(l2->files.size(), expected.size() + 3);  // beside the first run's files
  EXPECT_EQ(l2->File("Digit - Copy(1).1"), gone[3].content);
  EXPECT_EQ(l2->File("deep note - Copy(1).txt"), gone[5].content);
}

// A deleted folder whose directory grew while other things were written has clusters
// scattered between its files' data, its own subfolder and a live folder and file.
TEST_P(DeletedRecoveryEveryFatTest, DeletedFolderScatteredAroundOtherClustersComesBackWhole) {
  FatImage image = MakeImage(GetParam());
  std::map<std::string, std::vector<uint8_t>> gone;  // restored name -> content
  int seed = 500;
  auto write_batch = [&](const std::string& folder, const std::string& stem, int count) {
    const std::string staging = dir_ / ("batch" + std::to_string(seed));
    fs::create_directories(staging);
    for (int i = 0; i < count; ++i) {
      const std::string name = stem + " number " + std::to_string(i) + ".dat";
      auto content = FatTestBytes(700 + 1300 * static_cast<size_t>(i % 4), seed++);
      testing::WriteFileBytes(staging + "/" + name, content);
      gone[name] = std::move(content);
    }
    ASSERT_EQ(testing::RunCommand("MTOOLS_SKIP_CHECK=1 mcopy -i '" + image.path() + "' '" +
                                  staging + "'/* ::" + folder + "/"),
              0);
  };
  ASSERT_TRUE(image.MakeFolder("/GONE"));
  ASSERT_TRUE(image.MakeFolder("/GONE/SUB"));  // the folder's next cluster starts another one
  write_batch("/GONE", "first", 20);
  ASSERT_TRUE(image.WriteFile("/live between.bin", FatTestBytes(3000, 1)));
  ASSERT_TRUE(image.MakeFolder("/KEEP"));
  write_batch("/GONE/SUB", "inner", 25);
  write_batch("/GONE", "second", 20);
  ASSERT_TRUE(image.WriteFile("/KEEP/kept file.bin", FatTestBytes(5000, 2)));
  write_batch("/GONE", "third", 20);
  ASSERT_TRUE(image.DeleteTree("/GONE"));

  auto recovery = Recover(image.path());
  EXPECT_EQ(recovery->result.outcome, RunOutcome::kCompleted);
  std::vector<std::string> expected;
  for (const auto& [name, content] : gone) {
    expected.push_back(name);
    EXPECT_EQ(recovery->File(name), content) << name;
  }
  EXPECT_EQ(recovery->files, expected);  // every one, once, and no live file
}

INSTANTIATE_TEST_SUITE_P(FatTypes, DeletedRecoveryEveryFatTest, ::testing::Values(12, 16, 32),
                         testing::FatTypeName);

TEST_F(DeletedRecoveryTest, FragmentedFilesAreReadAroundLiveFiles) {
  FatImage image = MakeImage(32);  // 512-byte clusters
  for (int i = 0; i < 10; ++i) {
    ASSERT_TRUE(image.WriteFile("/small" + std::to_string(i), FatTestBytes(1500, 60 + i)));
  }
  for (int i = 1; i < 10; i += 2) ASSERT_TRUE(image.Delete("/small" + std::to_string(i)));
  // Written into the holes, around the live even files.
  const auto large_a = FatTestBytes(4000, 70);
  const auto large_b = FatTestBytes(2500, 71);
  ASSERT_TRUE(image.WriteFile("/large a.dat", large_a));
  ASSERT_TRUE(image.WriteFile("/large b.dat", large_b));
  ASSERT_TRUE(image.Delete("/large a.dat"));
  ASSERT_TRUE(image.Delete("/large b.dat"));
  auto recovery = Recover(image.path());
  EXPECT_EQ(recovery->result.outcome, RunOutcome::kCompleted);
  EXPECT_EQ(recovery->File("large a.dat"), large_a);
  EXPECT_EQ(recovery->File("large b.dat"), large_b);
  for (const std::string& name : recovery->files) {
    for (int i = 0; i < 10; i += 2) EXPECT_NE(name, "small" + std::to_string(i));
  }

  // large a's first cluster handed to a live file: overwritten, counted, not written.
  auto bytes = ReadFileBytes(image.path());
  MemorySource source(bytes);
  FatVolumeInfo info;
  ASSERT_TRUE(IdentifyFatVolume(source, &info));
  FatVolume volume(source, info);
  FakeRunUi search_ui;
  RunContext search_run(search_ui);
  std::vector<DeletedEntry> entries;
  ASSERT_EQ(SearchDeletedEntries(volume, search_run, {info.root_cluster, true, 0}, &entries),
            SearchEnd::kDone);
  auto large = std::find_if(entries.begin(), entries.end(),
                            [](const DeletedEntry& e) { return e.name == "large a"; });
  ASSERT_NE(large, entries.end());
  const uint32_t first = FirstClusterOf(*large, FatType::kFat32);
  const size_t fat_at = static_cast<size_t>(info.fat_start_sector * 512 + first * 4);
  bytes[fat_at] = bytes[fat_at + 1] = bytes[fat_at + 2] = 0xFF;
  bytes[fat_at + 3] = 0x0F;
  testing::WriteFileBytes(dir_ / "reused.img", bytes);
  DeletedReport report;
  RecoverOptions options;
  options.report = &report;
  auto reused = Recover(dir_ / "reused.img", options);
  EXPECT_EQ(reused->result.outcome, RunOutcome::kCompleted);
  EXPECT_EQ(report.overwritten, 1u);
  EXPECT_EQ(reused->files.size(), 2 * recovery->files.size() - 1);  // all but large a again
  EXPECT_FALSE(fs::exists(reused->run_folder + "large a - Copy(1).dat"));
  EXPECT_EQ(reused->File("large b - Copy(1).dat"), large_b);
}

TEST_F(DeletedRecoveryTest, NamesWithPercentSignsComeBackUnchanged) {
  FatImage image = MakeImage(16);
  ASSERT_TRUE(image.MakeFolder("/A"));
  ASSERT_TRUE(image.WriteFile("/report 100%done.txt", FatTestBytes(100, 80)));
  ASSERT_TRUE(image.WriteFile("/A/report 100%done.txt", FatTestBytes(200, 81)));
  ASSERT_TRUE(image.WriteFile("/A/50%s off.txt", FatTestBytes(300, 82)));
  ASSERT_TRUE(image.Delete("/report 100%done.txt"));
  ASSERT_TRUE(image.DeleteTree("/A"));
  auto recovery = Recover(image.path());
  EXPECT_EQ(recovery->files,
            (std::vector<std::string>{"50%s off.txt", "report 100%done - Copy(1).txt",
                                      "report 100%done.txt"}));
}

TEST_F(DeletedRecoveryTest, ClashingNamesAreMadeUniqueAndNothingIsOverwritten) {
  FatImage image = MakeImage(16);
  const auto first = FatTestBytes(600, 11);
  const auto second = FatTestBytes(900, 12);
  ASSERT_TRUE(image.WriteFile("/FOO.TXT", first));
  ASSERT_TRUE(image.MakeFolder("/OLD"));
  ASSERT_TRUE(image.WriteFile("/OLD/GOO.TXT", second));
  ASSERT_TRUE(image.Delete("/FOO.TXT"));
  ASSERT_TRUE(image.DeleteTree("/OLD"));
  // Both restore to _OO.TXT.
  auto recovery = Recover(image.path());
  EXPECT_EQ(recovery->files, (std::vector<std::string>{"KES_OO - Copy(1).TXT", "KES_OO.TXT"}));
  // Copied from the last found (inside OLD) to the first.
  EXPECT_EQ(recovery->File("KES_OO.TXT"), second);
  EXPECT_EQ(recovery->File("KES_OO - Copy(1).TXT"), first);

  // A second run into the same day folder adds copies beside the first run's files.
  auto again = Recover(image.path());
  EXPECT_EQ(again->files.size(), 4u);
  EXPECT_EQ(again->File("KES_OO.TXT"), second);
  EXPECT_EQ(again->File("KES_OO - Copy(3).TXT"), first);
}

// A file whose folder cannot be made below the run folder (a file of that name is in the way)
// costs that file only: it is not listed, it is named with the reason in the status text and the
// report, and the run goes on and ends with message 70006 counting it, not with 112.
TEST_F(DeletedRecoveryTest, FileThatCannotBeCreatedIsNamedAndCountedNotListed) {
  FatImage image = MakeImage(16);
  const auto top = FatTestBytes(700, 13);
  ASSERT_TRUE(image.MakeFolder("/TRIP"));
  ASSERT_TRUE(image.WriteFile("/TRIP/BEACH.JPG", FatTestBytes(3000, 14)));
  ASSERT_TRUE(image.WriteFile("/TOP.JPG", top));
  ASSERT_TRUE(image.DeleteTree("/TRIP"));
  ASSERT_TRUE(image.Delete("/TOP.JPG"));
  const std::string day = DayFolderPath(dir_ / "out", Today());
  fs::create_directories(day);
  testing::WriteFileBytes(day + "/KES_RIP", {1});  // where the folder /TRIP comes back

  DeletedReport report;
  RecoverOptions options;
  options.keep_paths = true;
  options.report = &report;
  auto recovery = Recover(image.path(), options);
  EXPECT_EQ(recovery->result.outcome, RunOutcome::kCompleted);
  EXPECT_EQ(recovery->ui.MessageIds(), std::vector<int>{msg::kCompletedWithFilesNotWritten});
  EXPECT_EQ(recovery->ui.messages[0].argument, "1");
  EXPECT_EQ(recovery->result.recovered, 1u);
  EXPECT_EQ(recovery->result.not_written, 1u);
  EXPECT_EQ(recovery->File("KES_OP.JPG"), top);
  ASSERT_EQ(recovery->ui.rows.size(), 1u);
  EXPECT_EQ(recovery->ui.rows[0].name, "KES_OP.JPG");
  ASSERT_EQ(report.not_written.size(), 1u);
  EXPECT_EQ(report.not_written[0].path, "/KES_RIP/KES_EACH.JPG");
  EXPECT_EQ(report.not_written[0].reason,
            "cannot make the folder " + day + "/KES_RIP: " + std::strerror(ENOTDIR));
  ASSERT_FALSE(recovery->ui.status_texts.empty());
  EXPECT_EQ(recovery->ui.status_texts.back(),
            "Not written: /KES_RIP/KES_EACH.JPG (" + report.not_written[0].reason + ")");
}

// A write that fails for another reason than a full disk (EFBIG past a file size limit) costs
// that file only: it is deleted, named with the reason and counted, and the run goes on.
TEST_F(DeletedRecoveryTest, AWriteErrorOtherThanAFullDiskCostsThatFileOnly) {
  FatImage image = MakeImage(16);
  const auto small = FatTestBytes(700, 21);
  ASSERT_TRUE(image.WriteFile("/BIG.JPG", FatTestBytes(10000, 20)));
  ASSERT_TRUE(image.WriteFile("/SMALL.JPG", small));
  ASSERT_TRUE(image.Delete("/BIG.JPG"));
  ASSERT_TRUE(image.Delete("/SMALL.JPG"));
  DeletedReport report;
  RecoverOptions options;
  options.report = &report;
  std::unique_ptr<Recovery> recovery;
  {
    testing::FileSizeLimit limit(4096);
    ASSERT_TRUE(limit.applied());
    recovery = Recover(image.path(), options);
  }
  EXPECT_EQ(recovery->result.outcome, RunOutcome::kCompleted);
  EXPECT_EQ(recovery->ui.MessageIds(), std::vector<int>{msg::kCompletedWithFilesNotWritten});
  EXPECT_EQ(recovery->result.not_written, 1u);
  EXPECT_EQ(recovery->files, std::vector<std::string>{"KES_MALL.JPG"});
  EXPECT_EQ(recovery->File("KES_MALL.JPG"), small);
  ASSERT_EQ(report.not_written.size(), 1u);
  EXPECT_EQ(report.not_written[0].path, "/KES_IG.JPG");
  EXPECT_NE(report.not_written[0].reason.find(std::strerror(EFBIG)), std::string::npos)
      << report.not_written[0].reason;
  EXPECT_EQ(recovery->ui.rows.size(), 1u);
}

TEST_F(DeletedRecoveryTest, TypeFilterAndExtensionTest) {
  FatImage image = MakeImage(16);
  const std::vector<std::string> names = {"/A.JPG", "/B.TXT", "/C.MP3",
                                          "/D.MP4", "/E.7Z",  "/F.XYZ"};
  for (const std::string& name : names) ASSERT_TRUE(image.WriteFile(name, FatTestBytes(100, 13)));
  for (const std::string& name : names) ASSERT_TRUE(image.Delete(name));
  // With every file wanted, any extension passes.
  auto all = Recover(image.path());
  EXPECT_EQ(all->files, (std::vector<std::string>{"KES_.7Z", "KES_.JPG", "KES_.MP3", "KES_.MP4",
                                                  "KES_.TXT", "KES_.XYZ"}));

  RecoverOptions jpg_only;
  jpg_only.mask = TypeBit(kJpg) | TypeBit(kMp3);
  jpg_only.scan_all = 0;
  auto selected = Recover(image.path(), jpg_only);
  EXPECT_EQ(selected->result.recovered, 2u);
  ASSERT_EQ(selected->ui.rows.size(), 2u);
  EXPECT_EQ(selected->ui.rows[0].name.substr(selected->ui.rows[0].name.size() - 3), "MP3");
  EXPECT_EQ(selected->ui.rows[1].name.substr(selected->ui.rows[1].name.size() - 3), "JPG");
}

TEST_F(DeletedRecoveryTest, UnicodeNamesAndAttributes) {
  FatImage image = MakeImage(32);
  const auto content = FatTestBytes(4000, 14);
  std::string wide;  // 84 three-byte characters and ".jpg": 256 bytes, too long for Linux
  for (int i = 0; i < 84; ++i) wide += "写";
  ASSERT_TRUE(image.WriteFile("/Grüße 写真.jpg", content));
  ASSERT_TRUE(image.WriteFile("/" + wide + ".jpg", content));
  ASSERT_TRUE(image.WriteFile("/LOCKED.JPG", content));
  ASSERT_TRUE(image.SetAttributes("/LOCKED.JPG", "+r"));
  ASSERT_TRUE(image.Delete("/Grüße 写真.jpg"));
  ASSERT_TRUE(image.Delete("/" + wide + ".jpg"));
  ASSERT_TRUE(image.Delete("/LOCKED.JPG"));
  auto recovery = Recover(image.path());
  const std::string cut = wide.substr(0, 225) + ".jpg";  // whole characters only
  EXPECT_EQ(recovery->files, (std::vector<std::string>{"Grüße 写真.jpg", "KES_OCKED.JPG", cut}));
  EXPECT_EQ(recovery->File("Grüße 写真.jpg"), content);
  EXPECT_EQ(recovery->File(cut), content);
  struct stat st {};
  ASSERT_EQ(::stat((recovery->run_folder + "KES_OCKED.JPG").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0222, 0u);  // read-only comes back read-only
}

TEST_F(DeletedRecoveryTest, LongNamesContinueAcrossDirectoryClusters) {
  FatImage image = MakeImage(32);  // 512-byte clusters: 16 entries each
  ASSERT_TRUE(image.MakeFolder("/DIR"));
  std::vector<std::string> names;
  for (int i = 1; i <= 6; ++i) {
    names.push_back("Long Name Number " + std::to_string(i) + ".jpg");  // 2 long-name entries
    ASSERT_TRUE(image.WriteFile("/DIR/" + names.back(), FatTestBytes(100, 30 + i)));
  }
  for (const std::string& name : names) ASSERT_TRUE(image.Delete("/DIR/" + name));
  RecoverOptions options;
  options.folder = "/DIR";
  auto recovery = Recover(image.path(), options);
  EXPECT_EQ(recovery->files, names);
  EXPECT_EQ(recovery->File(names[4]), FatTestBytes(100, 35));
}

TEST_F(DeletedRecoveryTest, RefusalsEndTheRunWithTheirMessage) {
  struct Case {
    std::string name;
    std::string make;  // shell command creating the volume at $IMG
    int message;
    bool run_folder_made;
  };
  std::vector<Case> cases = {
      {"unformatted", "truncate -s 4M $IMG", msg::kNoFileSystem, false},
      {"empty", "truncate -s 0 $IMG", msg::kMediaNotPresent, false},
  };
  if (testing::HaveTool("mkfs.exfat")) {
    // Both boot regions give a sector size of 128 bytes: no exFAT geometry to read.
    cases.push_back({"exfat", testing::kBrokenExfat, msg::kExfatRefused, false});
  } else {
    ADD_FAILURE() << "mkfs.exfat is not installed; the exFAT refusal is not tested";
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir run_dir;
    std::string img = run_dir / "volume.img";
    ASSERT_EQ(testing::RunCommand("IMG=" + img + "; " + c.make), 0);
    auto recovery = Recover(img);
    EXPECT_EQ(recovery->result.outcome, RunOutcome::kRefused);
    EXPECT_EQ(recovery->ui.MessageIds(), std::vector<int>{c.message});
    EXPECT_EQ(recovery->result.message_id, c.message);
    EXPECT_EQ(!recovery->run_folder.empty(), c.run_folder_made);
    EXPECT_TRUE(recovery->files.empty());
    EXPECT_EQ(recovery->ui.status, "");
  }
  auto missing = Recover(dir_ / "no-such.img");
  EXPECT_EQ(missing->ui.MessageIds(), std::vector<int>{msg::kCannotReadDevice});
}

TEST_F(DeletedRecoveryTest, CancelAnsweredYesEndsTheRunWithoutAClosingMessageAndNoGoesOn) {
  FatImage image = MakeImage(16);
  ASSERT_TRUE(image.WriteFile("/A.JPG", FatTestBytes(100, 15)));
  ASSERT_TRUE(image.Delete("/A.JPG"));
  RecoverOptions yes;
  yes.on_pump = [](RunContext& run, FakeRunUi& ui) {
    run.RequestCancel();
    ui.yes_no_answers = {MessageAnswer::kYes};
  };
  auto cancelled = Recover(image.path(), yes);
  EXPECT_EQ(cancelled->result.outcome, RunOutcome::kCancelled);
  EXPECT_EQ(cancelled->ui.MessageIds(), std::vector<int>{msg::kConfirmCancel});
  EXPECT_TRUE(cancelled->files.empty());

  int pumps = 0;
  RecoverOptions no;
  no.on_pump = [&pumps](RunContext& run, FakeRunUi&) {
    if (++pumps == 3) run.RequestCancel();
  };
  auto went_on = Recover(image.path(), no);
  EXPECT_EQ(went_on->result.outcome, RunOutcome::kCompleted);
  EXPECT_EQ(went_on->ui.MessageIds(), (std::vector<int>{msg::kConfirmCancel, msg::kCompleted}));
  EXPECT_EQ(went_on->files, std::vector<std::string>{"KES_.JPG"});
}

// A volume with nothing deleted: an unknown folder and a run folder that cannot be made are
// refused, and a run ends with "nothing found".
TEST_F(DeletedRecoveryTest, RefusedFolderRunFolderAndNothingDeleted) {
  FatImage image = MakeImage(32);
  ASSERT_TRUE(image.WriteFile("/LIVE.JPG", FatTestBytes(100, 16)));
  RecoverOptions unknown;
  unknown.folder = "/No/Such/Folder";
  auto refused = Recover(image.path(), unknown);
  EXPECT_EQ(refused->result.outcome, RunOutcome::kRefused);
  EXPECT_EQ(refused->ui.MessageIds(), std::vector<int>{msg::kFolderNotFound});

  testing::WriteFileBytes(dir_ / "blocked", {1});  // a file where the folder should be
  RecoverOptions blocked;
  blocked.recovery_folder = "blocked";
  EXPECT_EQ(Recover(image.path(), blocked)->ui.MessageIds(),
            std::vector<int>{msg::kCannotCreateFolder});

  auto recovery = Recover(image.path());
  EXPECT_EQ(recovery->result.outcome, RunOutcome::kCompleted);
  EXPECT_EQ(recovery->ui.MessageIds(), std::vector<int>{msg::kNothingFound});
  EXPECT_TRUE(recovery->files.empty());
}

// Damaged volumes: a clear message or a normal end, never a crash or a hang.
TEST_F(DeletedRecoveryTest, DamagedVolumes) {
  FatImage image = MakeImage(32);
  const auto content = FatTestBytes(300000, 17);
  ASSERT_TRUE(image.WriteFile("/BIG.JPG", content));
  ASSERT_TRUE(image.MakeFolder("/SUB"));
  ASSERT_TRUE(image.WriteFile("/SUB/X.JPG", FatTestBytes(100, 18)));
  ASSERT_TRUE(image.Delete("/BIG.JPG"));
  const auto pristine = ReadFileBytes(image.path());
  FatVolumeInfo info;
  MemorySource probe(pristine);
  ASSERT_TRUE(IdentifyFatVolume(probe, &info));

  {
    SCOPED_TRACE("looping root chain");
    auto bytes = pristine;
    bytes[info.fat_start_sector * 512 + 8] = 2;  // FAT[2] = 2
    bytes[info.fat_start_sector * 512 + 9] = bytes[info.fat_start_sector * 512 + 10] =
        bytes[info.fat_start_sector * 512 + 11] = 0;
    testing::WriteFileBytes(dir_ / "loop.img", bytes);
    auto recovery = Recover(dir_ / "loop.img");
    EXPECT_EQ(recovery->result.outcome, RunOutcome::kCompleted);
    EXPECT_EQ(recovery->File("KES_IG.JPG"), content);
  }
  {
    SCOPED_TRACE("truncated inside the deleted file");
    auto bytes = pristine;
    bytes.resize(static_cast<size_t>((info.data_start_sector + 200) * 512));
    testing::WriteFileBytes(dir_ / "short.img", bytes);
    auto recovery = Recover(dir_ / "short.img");
    // The file that cannot be read is given up; the run ends normally.
    EXPECT_EQ(recovery->result.outcome, RunOutcome::kCompleted);
    EXPECT_EQ(recovery->ui.MessageIds(), std::vector<int>{msg::kNothingFound});
    EXPECT_TRUE(recovery->ui.rows.empty());
    EXPECT_EQ(recovery->files.size(), 1u);  // only the first case's file
  }
  {
    SCOPED_TRACE("root cluster outside the volume");
    auto bytes = pristine;
    bytes[44] = 0xFF;
    bytes[45] = 0xFF;
    bytes[46] = 0xFF;
    testing::WriteFileBytes(dir_ / "root.img", bytes);
    auto recovery = Recover(dir_ / "root.img");
    EXPECT_EQ(recovery->ui.MessageIds(), std::vector<int>{msg::kNoFileSystem});
  }
  {
    SCOPED_TRACE("garbage directory and FAT");
    auto bytes = pristine;
    auto noise = FatTestBytes(static_cast<size_t>(info.fat_size_sectors * 512), 19);
    std::copy(noise.begin(), noise.end(),
              bytes.begin() + static_cast<long>(info.fat_start_sector * 512));
    auto root_noise = FatTestBytes(512, 20);
    std::copy(root_noise.begin(), root_noise.end(),
              bytes.begin() + static_cast<long>(info.data_start_sector * 512 + 512 * 0));
    testing::WriteFileBytes(dir_ / "noise.img", bytes);
    auto recovery = Recover(dir_ / "noise.img");
    EXPECT_NE(recovery->result.outcome, RunOutcome::kCancelled);
    EXPECT_FALSE(recovery->ui.messages.empty());
  }
}

// The offset of the first short entry named `name11`; a leading '_' stands for the 0xE5 of a
// deleted entry. Searched from the root region or data region on.
size_t ShortEntryAt(const std::vector<uint8_t>& bytes, const FatVolumeInfo& info,
                    const char* name11) {
  const size_t from = static_cast<size_t>(
      (info.fat_start_sector + uint64_t{info.fat_count} * info.fat_size_sectors) * 512);
  for (size_t at = from; at + 32 <= bytes.size(); at += 32) {
    const uint8_t first = name11[0] == '_' ? 0xE5 : static_cast<uint8_t>(name11[0]);
    if (bytes[at] == first && std::memcmp(&bytes[at + 1], name11 + 1, 10) == 0) return at;
  }
  ADD_FAILURE() << "no entry " << name11;
  return 0;
}

uint32_t EntryCluster(const std::vector<uint8_t>& bytes, size_t entry) {
  return uint32_t{bytes[entry + 26]} | uint32_t{bytes[entry + 27]} << 8 |
         uint32_t{bytes[entry + 20]} << 16 | uint32_t{bytes[entry + 21]} << 24;
}

void PutLe32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// Folder structures that lie: chains that loop through or run into each other, a deleted
// folder full of noise, entries past the volume, FAT copies that disagree. Each ends normally
// with the good files whole and nothing made up.
TEST_F(DeletedRecoveryTest, DamagedFolderStructures) {
  FatImage image = MakeImage(32);
  const auto kept = FatTestBytes(3000, 30);
  const auto lost = FatTestBytes(5000, 31);
  const auto in_b = FatTestBytes(2000, 32);
  ASSERT_TRUE(image.MakeFolder("/A"));
  ASSERT_TRUE(image.MakeFolder("/B"));
  ASSERT_TRUE(image.MakeFolder("/RAND"));
  ASSERT_TRUE(image.WriteFile("/A/LIVE.TXT", FatTestBytes(700, 33)));
  ASSERT_TRUE(image.WriteFile("/B/BX.BIN", in_b));
  for (int i = 0; i < 6; ++i) {
    ASSERT_TRUE(image.WriteFile("/RAND/R" + std::to_string(i) + ".BIN", FatTestBytes(900, 40 + i)));
  }
  ASSERT_TRUE(image.WriteFile("/KEEP.BIN", kept));
  ASSERT_TRUE(image.WriteFile("/LOST.BIN", lost));
  for (const char* gone : {"/KEEP.BIN", "/LOST.BIN", "/B/BX.BIN"}) ASSERT_TRUE(image.Delete(gone));
  ASSERT_TRUE(image.DeleteTree("/RAND"));
  const auto pristine = ReadFileBytes(image.path());
  FatVolumeInfo info;
  MemorySource probe(pristine);
  ASSERT_TRUE(IdentifyFatVolume(probe, &info));
  const size_t fat = static_cast<size_t>(info.fat_start_sector * 512);
  const uint32_t a = EntryCluster(pristine, ShortEntryAt(pristine, info, "A          "));
  const uint32_t b = EntryCluster(pristine, ShortEntryAt(pristine, info, "B          "));
  const size_t lost_entry = ShortEntryAt(pristine, info, "_OST    BIN");
  const uint64_t volume_bytes = info.total_sectors * 512;

  auto recover = [&](const std::string& name, std::vector<uint8_t> bytes) {
    testing::WriteFileBytes(dir_ / name, bytes);
    RecoverOptions options;
    options.recovery_folder = name + ".out";
    auto recovery = Recover(dir_ / name, options);
    EXPECT_EQ(recovery->result.outcome, RunOutcome::kCompleted);
    EXPECT_EQ(ReadFileBytes(dir_ / name), bytes);  // the source is never written
    for (const std::string& file : recovery->files) {
      EXPECT_NE(file, "LIVE.TXT");
      EXPECT_LE(fs::file_size(recovery->run_folder + file), volume_bytes) << file;
    }
    return recovery;
  };
  const auto whole = recover("whole.img", pristine);
  ASSERT_EQ(whole->File("KES_EEP.BIN"), kept);
  ASSERT_EQ(whole->File("KES_OST.BIN"), lost);
  ASSERT_EQ(whole->File("KES_X.BIN"), in_b);
  {
    SCOPED_TRACE("folder chains that loop through each other");
    auto bytes = pristine;
    PutLe32(bytes, fat + a * 4, b);
    PutLe32(bytes, fat + b * 4, a);
    auto recovery = recover("loop.img", bytes);
    EXPECT_EQ(recovery->File("KES_EEP.BIN"), kept);
    EXPECT_EQ(recovery->File("KES_X.BIN"), in_b);
    EXPECT_LE(recovery->files.size(), whole->files.size() + 1);
  }
  {
    SCOPED_TRACE("a folder chain that runs into another folder");
    auto bytes = pristine;
    PutLe32(bytes, fat + a * 4, b);
    auto recovery = recover("converge.img", bytes);
    EXPECT_EQ(recovery->File("KES_X.BIN"), in_b);
    EXPECT_LE(recovery->files.size(), whole->files.size() + 1);
  }
  {
    SCOPED_TRACE("a deleted folder whose clusters hold random data");
    auto bytes = pristine;
    const uint32_t rand_folder = EntryCluster(bytes, ShortEntryAt(bytes, info, "_AND       "));
    const auto noise = FatTestBytes(info.BytesPerCluster(), 50);
    std::copy(noise.begin(), noise.end(),
              bytes.begin() + static_cast<long>(info.ClusterFirstSector(rand_folder) * 512));
    auto recovery = recover("noise.img", bytes);
    EXPECT_EQ(recovery->File("KES_EEP.BIN"), kept);
    EXPECT_EQ(recovery->File("KES_OST.BIN"), lost);
    EXPECT_LE(recovery->files.size(), whole->files.size());
  }
  {
    SCOPED_TRACE("entries past the volume and larger than it");
    auto past = pristine;
    past[lost_entry + 20] = past[lost_entry + 21] = 0xFF;
    auto recovery = recover("past.img", past);
    EXPECT_EQ(recovery->File("KES_EEP.BIN"), kept);
    EXPECT_FALSE(fs::exists(recovery->run_folder + "KES_OST.BIN"));
    auto huge = pristine;
    PutLe32(huge, lost_entry + 28, 0xFFFFFFF0u);
    recovery = recover("huge.img", huge);
    EXPECT_EQ(recovery->File("KES_EEP.BIN"), kept);
    EXPECT_FALSE(fs::exists(recovery->run_folder + "KES_OST.BIN"));
  }
  {
    SCOPED_TRACE("FAT copies that disagree: the first one counts");
    ASSERT_GE(info.fat_count, 2);
    auto bytes = pristine;
    const auto noise = FatTestBytes(static_cast<size_t>(info.fat_size_sectors * 512), 51);
    std::copy(noise.begin(), noise.end(),
              bytes.begin() + static_cast<long>(fat + info.fat_size_sectors * 512));
    auto recovery = recover("second_fat.img", bytes);
    EXPECT_EQ(recovery->files, whole->files);
    for (const std::string& file : whole->files) {
      EXPECT_EQ(recovery->File(file), whole->File(file)) << file;
    }
  }
}

// NTFS volumes are routed by their file-system name to the MFT reader, whose result is the
// run's: its files, a cancel, and an MFT it cannot use (a failure without a message).
TEST_F(DeletedRecoveryTest, NtfsVolumesAreRecoveredThroughTheMftReader) {
  std::string why;
  auto image = testing::NtfsImage::Create(KESTREL_NTFS_TOOL_PATH, dir_ / "ntfs.img", 16, &why);
  if (!image) GTEST_SKIP() << "no NTFS test volume: " << why;
  const auto content = FatTestBytes(20000, 21);
  // The helper fails as a whole under LeakSanitizer (libntfs-3g does not free everything).
  if (!image->WriteFile("/picture.jpg", content) || !image->Delete("/picture.jpg")) {
    GTEST_SKIP() << "the NTFS helper could not write and delete a file";
  }
  auto recovery = Recover(image->path());
  EXPECT_EQ(recovery->result.outcome, RunOutcome::kCompleted);
  EXPECT_EQ(recovery->result.message_id, msg::kCompleted);
  EXPECT_EQ(recovery->result.recovered, 1u);
  EXPECT_EQ(recovery->File("picture.jpg"), content);

  RecoverOptions cancel;
  cancel.on_pump = [](RunContext& run, FakeRunUi& ui) {
    run.RequestCancel();
    ui.yes_no_answers = {MessageAnswer::kYes};
  };
  auto cancelled = Recover(image->path(), cancel);
  EXPECT_EQ(cancelled->result.outcome, RunOutcome::kCancelled);
  EXPECT_EQ(cancelled->ui.MessageIds(), std::vector<int>{msg::kConfirmCancel});

  auto bytes = ReadFileBytes(image->path());
  uint64_t mft_cluster = 0;
  std::memcpy(&mft_cluster, &bytes[48], 8);
  const uint64_t cluster_bytes = (uint64_t{bytes[11]} | (uint64_t{bytes[12]} << 8)) * bytes[13];
  // Record 0 no longer names itself $MFT (the volume still carries NTFS).
  const char16_t name[] = u"$MFT";
  auto record = bytes.begin() + static_cast<long>(mft_cluster * cluster_bytes);
  auto at = std::search(record, record + 1024, reinterpret_cast<const uint8_t*>(name),
                        reinterpret_cast<const uint8_t*>(name) + 8);
  ASSERT_NE(at, record + 1024);
  at[6] = 'X';
  testing::WriteFileBytes(dir_ / "broken.img", bytes);
  auto broken = Recover(dir_ / "broken.img");
  EXPECT_EQ(broken->result.outcome, RunOutcome::kRefused);
  EXPECT_EQ(broken->result.message_id, 0);
  EXPECT_TRUE(broken->ui.messages.empty());
}

}  // namespace
}  // namespace kestrel
