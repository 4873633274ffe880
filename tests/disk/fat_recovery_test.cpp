#include "disk/fat_recovery.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "disk/fat_directory.h"
#include "disk/fat_folders.h"
#include "platform/settings_store.h"
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

void SetName(uint8_t* entry, const char* name11) {
  std::memcpy(entry, name11, 11);
}

// The first sector of a folder: ".", "..", then one entry starting with `third`.
std::array<uint8_t, 512> FolderSector(uint32_t self, uint32_t parent, uint8_t third) {
  std::array<uint8_t, 512> s{};
  SetName(&s[0], ".          ");
  SetName(&s[32], "..         ");
  s[11] = s[43] = fat_attr::kDirectory;
  s[26] = static_cast<uint8_t>(self);
  s[27] = static_cast<uint8_t>(self >> 8);
  s[32 + 26] = static_cast<uint8_t>(parent);
  s[32 + 27] = static_cast<uint8_t>(parent >> 8);
  SetName(&s[64], "FILE    JPG");
  s[64] = third;
  s[64 + 11] = fat_attr::kArchive;
  return s;
}

class DiscoveryRulesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    info_.fat_type = FatType::kFat16;
    info_.cluster_count = 5000;
  }
  bool Take(const SearchStart& start, uint32_t parent, uint8_t third) {
    DiscoveryRules rules(info_, start);
    return rules.Take(FolderSector(100, parent, third).data(), list_);
  }
  FatVolumeInfo info_;
  DirectoryClusterList list_;
};

TEST_F(DiscoveryRulesTest, RootSelectedTakesDeletedFoldersOfTheRoot) {
  SearchStart root{0, true, 0};
  EXPECT_TRUE(Take(root, 0, kDeletedMark));
  EXPECT_FALSE(Take(root, 0, 'A'));  // a live folder of the root is not searched
  EXPECT_FALSE(Take(root, 77, kDeletedMark));
  std::array<uint8_t, 512> data{};  // no dot entries: file data
  DiscoveryRules rules(info_, root);
  EXPECT_FALSE(rules.Take(data.data(), list_));
}

TEST_F(DiscoveryRulesTest, FoldersBelowSearchedFoldersAreTaken) {
  list_.Add(10);
  list_.own_count = 1;
  SearchStart folder{10, false, 0};
  EXPECT_TRUE(Take(folder, 10, 'A'));
  EXPECT_TRUE(Take(folder, 10, kDeletedMark));
  EXPECT_FALSE(Take(folder, 20, kDeletedMark));
  list_.Add(20);
  EXPECT_TRUE(Take(folder, 20, 'A'));
  EXPECT_FALSE(Take(folder, 0, kDeletedMark));  // the root is not below the selected folder
}

TEST_F(DiscoveryRulesTest, FoldersInTheRecycledFolderAreTaken) {
  SearchStart root{0, true, 30};
  EXPECT_TRUE(Take(root, 30, 'A'));
  EXPECT_FALSE(Take(root, 31, 'A'));
}

TEST_F(DiscoveryRulesTest, Fat32RootParentIsTheRootWhicheverWayItIsWritten) {
  info_.fat_type = FatType::kFat32;
  info_.cluster_count = 70000;
  info_.root_cluster = 2;
  list_.Add(2);
  list_.own_count = 1;
  SearchStart root{2, true, 0};
  EXPECT_TRUE(Take(root, 0, kDeletedMark));
  EXPECT_TRUE(Take(root, 2, kDeletedMark));
  EXPECT_FALSE(Take(root, 2, 'A'));
  EXPECT_FALSE(Take(root, 0, 'A'));
}

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
  ASSERT_EQ(SearchDeletedEntries(volume, run, {a, false, 0}, &entries), SearchEnd::kDone);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].name, "_");  // Y.JPG in the selected folder itself
  EXPECT_EQ(entries[0].cluster_high, 0u);
  EXPECT_EQ(entries[1].name, "_");  // X.JPG inside the deleted SUB
  EXPECT_EQ(entries[1].cluster_high, 1u);
  EXPECT_EQ(ui.status, "Searching deleted files...");
}

TEST_F(FatSearchTest, FailedReadEndsTheCopyAndKeepsNoPartOfIt) {
  std::string why;
  auto image = FatImage::Create(dir_ / "faulty.img", 16, 20480, 4, &why);
  ASSERT_TRUE(image) << why;
  const auto content = FatTestBytes(100000, 3);
  ASSERT_TRUE(image->WriteFile("/BIG.JPG", content));
  ASSERT_TRUE(image->Delete("/BIG.JPG"));

  auto faulty = std::make_unique<FaultInjectingSource>(FileByteSource::Open(image->path()));
  FaultInjectingSource& faults = *faulty;
  FatVolumeInfo info;
  ASSERT_TRUE(IdentifyFatVolume(faults, &info));
  FatVolume volume(faults, info);
  FakeRunUi ui;
  RunContext run(ui);
  std::vector<DeletedEntry> entries;
  ASSERT_EQ(SearchDeletedEntries(volume, run, {0, true, 0}, &entries), SearchEnd::kDone);
  ASSERT_EQ(entries.size(), 1u);
  // The third 32 KiB piece of the file cannot be read.
  faults.FailSectors(info.ClusterFirstSector(entries[0].cluster_low) + 130, 1);

  FileTypeSelection types;
  types.mask = kAllFileTypesMask;
  types.scan_all = 1;
  SettingsStore settings(dir_ / "registry.reg");
  ScanSource scan;
  run.run_folder = dir_.path() + "/";
  DeletedRun deleted{run, types, settings, scan, run.run_folder, dir_.path()};
  EXPECT_EQ(CopyDeletedEntries(deleted, volume, entries), CopyEnd::kReadFailed);
  EXPECT_EQ(ui.MessageIds(), std::vector<int>{msg::kCannotReadDevice});
  EXPECT_TRUE(ui.rows.empty());
  // The copy cut short is deleted: neither under its name nor as a partial file.
  for (const auto& name : testing::ListFiles(dir_.path()))
    EXPECT_EQ(name.find("IG.JPG"), std::string::npos) << name;
  EXPECT_EQ(ui.file_bar_range, 0u);  // the per-file bar is hidden again
}

}  // namespace
}  // namespace kestrel
