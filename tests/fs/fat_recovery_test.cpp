#include "fs/fat/fat_recovery.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <filesystem>

#include "fs/fat/fat_directory.h"
#include "fs/fat/fat_file_system.h"
#include "fs/fat/fat_folders.h"
#include "recover/undelete_loop.h"
#include "run/messages.h"
#include "support/fake_run_ui.h"
#include "support/fat_image.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

using testing::FakeRunUi;
using testing::FatImage;
using testing::FatTestBytes;
using testing::TempDir;

class FatSearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::HaveFatTools()) GTEST_SKIP() << "mkfs.fat or mtools is not installed";
  }
  TempDir dir_;
};

uint32_t ClusterOf(FatVolume& volume, const std::string& path) {
  SelectedFolder folder = ResolveSelectedFolder(volume, path);
  EXPECT_EQ(folder.resolution, FolderResolution::kFound) << path;
  return folder.cluster;
}

// Offset in `bytes` of the entry named `name11` inside the cluster.
size_t EntryOffset(const std::vector<uint8_t>& bytes, const FatVolumeInfo& info, uint32_t cluster,
                   const char* name11) {
  const size_t start = static_cast<size_t>(info.ClusterFirstSector(cluster) * 512);
  for (size_t at = start; at < start + info.BytesPerCluster(); at += 32) {
    if (std::memcmp(&bytes[at], name11, 11) == 0) return at;
  }
  ADD_FAILURE() << "no entry " << name11;
  return 0;
}

TEST_F(FatSearchTest, DiscoveredEntriesWithoutHighHalfTakeTheirFolders) {
  std::string why;
  auto image = FatImage::Create(dir_ / "high.img", 32, 40000, 1, &why);
  ASSERT_TRUE(image) << why;
  ASSERT_TRUE(image->MakeFolder("/A"));
  ASSERT_TRUE(image->MakeFolder("/A/SUB"));
  ASSERT_TRUE(image->WriteFile("/A/SUB/X.JPG", FatTestBytes(100, 1)));
  ASSERT_TRUE(image->WriteFile("/A/Y.JPG", FatTestBytes(100, 2)));
  ASSERT_TRUE(image->Delete("/A/Y.JPG"));
  MemorySource source(testing::ReadFileBytes(image->path()));
  FatVolumeInfo info;
  ASSERT_TRUE(IdentifyFatVolume(source, &info));
  FatVolume volume(source, info);
  const uint32_t a = ClusterOf(volume, "/A");
  const uint32_t sub = ClusterOf(volume, "/A/SUB");
  ASSERT_TRUE(image->DeleteTree("/A/SUB"));
  source.bytes() = testing::ReadFileBytes(image->path());

  // Windows 9x cleared the high half of deleted entries; mark both folders as lying above
  // cluster 65535 so that the rule shows.
  auto& bytes = source.bytes();
  bytes[EntryOffset(bytes, info, sub, ".          ") + 20] = 1;
  bytes[EntryOffset(bytes, info, a, ".          ") + 20] = 1;

  FakeRunUi ui;
  RunContext run(ui);
  std::vector<DeletedEntry> entries;
  FatVolume changed(source, info);  // reads the FAT as it is after the deletion
  ASSERT_EQ(SearchDeletedEntries(changed, run, {a, false, 0}, &entries), SearchEnd::kDone);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].name, "_");  // Y.JPG in the selected folder itself
  EXPECT_EQ(entries[0].cluster_high, 0u);
  EXPECT_EQ(entries[1].name, "_");  // X.JPG inside the deleted SUB
  EXPECT_EQ(entries[1].cluster_high, 1u);
  EXPECT_EQ(ui.status, "Searching deleted files...");
}

TEST_F(FatSearchTest, AnUnreadableFileCostsThatFileOnly) {
  std::string why;
  auto image = FatImage::Create(dir_ / "faulty.img", 16, 20480, 4, &why);
  ASSERT_TRUE(image) << why;
  const auto content = FatTestBytes(100000, 3);
  const auto other = FatTestBytes(3000, 4);
  ASSERT_TRUE(image->WriteFile("/BIG.JPG", content));
  ASSERT_TRUE(image->WriteFile("/OTHER.JPG", other));
  ASSERT_TRUE(image->Delete("/BIG.JPG"));
  ASSERT_TRUE(image->Delete("/OTHER.JPG"));

  auto faulty = std::make_unique<FaultInjectingSource>(FileByteSource::Open(image->path()));
  FaultInjectingSource& faults = *faulty;
  FatVolumeInfo info;
  ASSERT_TRUE(IdentifyFatVolume(faults, &info));
  FatVolume volume(faults, info);
  FakeRunUi ui;
  RunContext run(ui);
  std::vector<DeletedEntry> entries;
  ASSERT_EQ(SearchDeletedEntries(volume, run, {0, true, 0}, &entries), SearchEnd::kDone);
  ASSERT_EQ(entries.size(), 2u);
  // The third 32 KiB piece of BIG.JPG cannot be read.
  faults.FailSectors(info.ClusterFirstSector(entries[0].cluster_low) + 130, 1);

  FileTypeSelection types;
  types.mask = kAllFileTypesMask;
  types.scan_all = 1;
  run.SetRunFolder(dir_.path() + "/");
  FatFileSystem file_system(faults, info);
  UndeleteRequest request{run, types, "/", false, nullptr, {}};
  EXPECT_EQ(UndeleteFiles(file_system, request).outcome, RunOutcome::kCompleted);
  EXPECT_EQ(ui.MessageIds(), std::vector<int>{msg::kCompleted});
  EXPECT_EQ(request.report.unreadable, std::vector<std::string>{"/KES_IG.JPG"});
  EXPECT_NE(ui.status.find(MessageText(msg::kCannotReadDevice)), std::string::npos);
  EXPECT_NE(ui.status.find("KES_IG.JPG"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "KES_IG.JPG"));  // the partial file is removed
  EXPECT_EQ(testing::ReadFileBytes(dir_ / "KES_THER.JPG"), other);
  ASSERT_EQ(ui.rows.size(), 1u);
  EXPECT_EQ(run.recovered_count(), 1u);
  // Neither under its name nor as a partial file.
  for (const auto& name : testing::ListFiles(dir_.path()))
    EXPECT_EQ(name.find("IG.JPG"), std::string::npos) << name;
  EXPECT_EQ(ui.file_bar_range, 0u);  // the per-file bar is hidden again
}

TEST(FatNameTest, LegalShortNames) {
  EXPECT_TRUE(IsLegalShortName(reinterpret_cast<const uint8_t*>("PHOTO   JPG")));
  EXPECT_TRUE(IsLegalShortName(reinterpret_cast<const uint8_t*>("\xE5HOTO   JPG")));
  EXPECT_TRUE(IsLegalShortName(reinterpret_cast<const uint8_t*>("README     ")));
  EXPECT_FALSE(IsLegalShortName(reinterpret_cast<const uint8_t*>("        JPG")));
  EXPECT_FALSE(IsLegalShortName(reinterpret_cast<const uint8_t*>("A*B     JPG")));
  EXPECT_FALSE(IsLegalShortName(reinterpret_cast<const uint8_t*>("AB\x01     JPG")));
  EXPECT_FALSE(IsLegalShortName(reinterpret_cast<const uint8_t*>("A.B     TXT")));
}

}  // namespace
}  // namespace kestrel
