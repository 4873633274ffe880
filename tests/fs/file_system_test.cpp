// The FileSystem interface over volumes made by mkfs.fat + mtools and mkntfs + libntfs-3g: the
// probe table recognises each volume, and every deleted file's byte runs, content and times
// agree with what was written.
#include "fs/file_system.h"

#include <gtest/gtest.h>

#include <ctime>

#include "fs/fat/fat_directory.h"
#include "fs/probe.h"
#include "platform/testing/source_doubles.h"
#include "run/messages.h"
#include "support/exfat_image.h"
#include "support/fake_run_ui.h"
#include "support/fat_image.h"
#include "support/ntfs_image.h"
#include "support/temp_dir.h"

#ifndef KESTREL_NTFS_TOOL_PATH
#define KESTREL_NTFS_TOOL_PATH ""
#endif

namespace kestrel {
namespace {

using testing::FatImage;
using testing::TempDir;

// The deleted files below the root, found through the probe table.
struct Opened {
  MemorySource source;
  ProbeResult probed;
  std::vector<DeletedFile> files;

  explicit Opened(const std::string& image) : source(testing::ReadFileBytes(image)) {
    probed = OpenFileSystem(source);
    if (!probed.file_system) return;
    testing::FakeRunUi ui;
    RunContext run(ui);
    EXPECT_EQ(probed.file_system->FindDeleted("/", run, &files), SearchResult::kDone);
  }

  const DeletedFile* Find(const std::string& volume_path) const {
    for (const DeletedFile& file : files) {
      if (file.VolumePath() == volume_path) return &file;
    }
    return nullptr;
  }

  // Reads the file through its content reader and, separately, from the volume at its runs.
  void ExpectRunsHoldTheContent(const DeletedFile& file, const std::vector<uint8_t>& original) {
    std::unique_ptr<FileContent> content = probed.file_system->OpenContent(file);
    ASSERT_TRUE(content);
    std::vector<uint8_t> read(content->length());
    for (size_t at = 0; !content->at_end();) {
      const int64_t got = content->ReadNext(read.data() + at, read.size() - at);
      ASSERT_GT(got, 0);
      at += static_cast<size_t>(got);
    }
    EXPECT_EQ(read, original);
    std::vector<uint8_t> from_runs;
    for (const ByteRun& run : content->Runs()) {
      EXPECT_EQ(run.file_offset, from_runs.size());
      const auto bytes = source.bytes();
      from_runs.insert(from_runs.end(), bytes.begin() + static_cast<ptrdiff_t>(run.volume_offset),
                       bytes.begin() + static_cast<ptrdiff_t>(run.volume_offset + run.length));
    }
    EXPECT_EQ(from_runs, original);
  }
};

// Written today: the times lie within a day of now.
void ExpectRecentTimes(const DeletedFile& file, bool has_creation) {
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  ASSERT_TRUE(file.times.modified);
  EXPECT_LT(std::abs(*file.times.modified - now), 86400) << file.name;
  ASSERT_TRUE(file.times.accessed);
  EXPECT_LT(std::abs(*file.times.accessed - now), 2 * 86400) << file.name;
  EXPECT_EQ(file.times.created.has_value(), has_creation) << file.name;
}

TEST(FatTimestamps, DateAndTimeFieldsBecomeSecondsSince1970) {
  // 2024-01-15 12:34:56: year 44, month 1, day 15; 12 h, 34 min, 28 two-second steps.
  const uint16_t date = (44 << 9) | (1 << 5) | 15;
  const uint16_t time = (12 << 11) | (34 << 5) | 28;
  EXPECT_EQ(FatTimestamp(date, time), 1705322096);
  EXPECT_EQ(FatTimestamp(0, time), std::nullopt);                       // not recorded
  EXPECT_EQ(FatTimestamp((44 << 9) | (2 << 5) | 30, 0), std::nullopt);  // February 30th
}

TEST(ProbeTable, RecognisesEachVolumeOrSaysWhyItIsRefused) {
  if (!testing::HaveFatTools()) GTEST_SKIP() << "mkfs.fat or mtools is not installed";
  TempDir dir;
  std::string why;
  for (const auto& [bits, kib, name] :
       {std::tuple{12, 1440, "FAT12"}, {16, 20480, "FAT16"}, {32, 40000, "FAT32"}}) {
    auto image = FatImage::Create(dir / (std::string(name) + ".img"), bits, kib, 1, &why);
    ASSERT_TRUE(image) << why;
    MemorySource source(testing::ReadFileBytes(image->path()));
    ProbeResult probed = OpenFileSystem(source);
    ASSERT_TRUE(probed.file_system) << name;
    EXPECT_EQ(probed.file_system->name(), name);
    EXPECT_TRUE(probed.file_system->OffersFolders());
  }
  if (auto ntfs = testing::NtfsImage::Create(KESTREL_NTFS_TOOL_PATH, dir / "ntfs.img", 16, &why)) {
    MemorySource source(testing::ReadFileBytes(ntfs->path()));
    ProbeResult probed = OpenFileSystem(source);
    ASSERT_TRUE(probed.file_system);
    EXPECT_EQ(probed.file_system->name(), "NTFS");
    EXPECT_FALSE(probed.file_system->OffersFolders());
  } else {
    ADD_FAILURE() << "no NTFS test volume: " << why;
  }
  if (testing::HaveTool("mkfs.exfat")) {
    ASSERT_EQ(testing::RunCommand("truncate -s 8M " + dir / "exfat.img" + " && mkfs.exfat " +
                                  dir / "exfat.img" + " >/dev/null"),
              0);
    MemorySource exfat(testing::ReadFileBytes(dir / "exfat.img"));
    ProbeResult probed = OpenFileSystem(exfat);
    ASSERT_TRUE(probed.file_system);
    EXPECT_EQ(probed.file_system->name(), "exFAT");
    EXPECT_TRUE(probed.file_system->OffersFolders());
    // Named exFAT, but without a geometry to read: refused with its own message.
    ASSERT_EQ(testing::RunCommand(std::string("IMG=") + dir / "broken.img" + "; " +
                                  testing::kBrokenExfat),
              0);
    MemorySource broken(testing::ReadFileBytes(dir / "broken.img"));
    EXPECT_EQ(OpenFileSystem(broken).refusal, msg::kExfatRefused);
  } else {
    ADD_FAILURE() << "mkfs.exfat is not installed; exFAT volumes are not tested";
  }
  MemorySource zeros(std::vector<uint8_t>(1 << 20));
  ProbeResult none = OpenFileSystem(zeros);
  EXPECT_FALSE(none.file_system);
  EXPECT_EQ(none.refusal, msg::kNoFileSystem);
  EXPECT_EQ(none.icon, MessageIcon::kInformation);
  MemorySource empty(std::vector<uint8_t>{});
  EXPECT_EQ(OpenFileSystem(empty).refusal, msg::kMediaNotPresent);
}

TEST(FatFileSystem, DeletedFilesCarryTheirRunsContentAndTimes) {
  if (!testing::HaveFatTools()) GTEST_SKIP() << "mkfs.fat or mtools is not installed";
  TempDir dir;
  std::string why;
  auto image = FatImage::Create(dir / "fat.img", 16, 20480, 1, &why);
  ASSERT_TRUE(image) << why;
  // A live file written between the two halves of `split` splits it in two runs.
  const auto first = testing::FatTestBytes(3000, 1);
  const auto live = testing::FatTestBytes(1500, 2);
  const auto split = testing::FatTestBytes(5000, 3);
  ASSERT_TRUE(image->WriteFile("/Holiday Photo.jpg", first));
  ASSERT_TRUE(image->WriteFile("/GAP.BIN", testing::FatTestBytes(1024, 4)));
  ASSERT_TRUE(image->WriteFile("/KEEP.BIN", live));
  ASSERT_TRUE(image->Delete("/GAP.BIN"));
  ASSERT_TRUE(image->WriteFile("/Split File.jpg", split));
  ASSERT_TRUE(image->Delete("/Holiday Photo.jpg"));
  ASSERT_TRUE(image->Delete("/Split File.jpg"));

  Opened opened(image->path());
  const DeletedFile* photo = opened.Find("/Holiday Photo.jpg");
  const DeletedFile* split_file = opened.Find("/Split File.jpg");
  ASSERT_TRUE(photo && split_file);
  EXPECT_EQ(photo->type_extension, "JPG");
  EXPECT_EQ(photo->bytes, first.size());
  EXPECT_EQ(photo->dos_attributes & 0x20, 0x20);  // the archive bit mtools sets
  opened.ExpectRunsHoldTheContent(*photo, first);
  opened.ExpectRunsHoldTheContent(*split_file, split);
  ExpectRecentTimes(*photo, true);
}

TEST(NtfsFileSystem, DeletedFilesCarryTheirRunsContentAndTimes) {
  TempDir dir;
  std::string why;
  auto image = testing::NtfsImage::Create(KESTREL_NTFS_TOOL_PATH, dir / "ntfs.img", 16, &why);
  if (!image) GTEST_SKIP() << "no NTFS test volume: " << why;
  const auto large = testing::PatternBytes(20000, 1);  // non-resident, in clusters
  const auto small = testing::PatternBytes(100, 2);    // resident, inside its record
  const auto sparse = testing::PatternBytes(5000, 3);
  bool written = image->MakeFolder("/Trip") && image->WriteFile("/Trip/large.jpg", large) &&
                 image->WriteFile("/small.txt", small) &&
                 image->WriteSparse("/sparse.bin", sparse, 65536) &&
                 image->Delete("/Trip/large.jpg") && image->Delete("/small.txt") &&
                 image->Delete("/sparse.bin");
  if (!written) GTEST_SKIP() << "the NTFS helper could not write and delete the files";

  Opened opened(image->path());
  const DeletedFile* large_file = opened.Find("/Trip/large.jpg");
  const DeletedFile* small_file = opened.Find("/small.txt");
  const DeletedFile* sparse_file = opened.Find("/sparse.bin");
  ASSERT_TRUE(large_file && small_file && sparse_file);
  EXPECT_EQ(large_file->state, FileState::kIntact);
  opened.ExpectRunsHoldTheContent(*large_file, large);
  ExpectRecentTimes(*large_file, true);

  // Resident content has no runs in the volume; the reader still gives it.
  std::unique_ptr<FileContent> content = opened.probed.file_system->OpenContent(*small_file);
  ASSERT_TRUE(content);
  EXPECT_TRUE(content->Runs().empty());
  std::vector<uint8_t> read(content->length());
  ASSERT_EQ(content->ReadNext(read.data(), read.size()), static_cast<int64_t>(small.size()));
  EXPECT_EQ(read, small);

  // The hole before the data is a sparse run.
  std::unique_ptr<FileContent> holey = opened.probed.file_system->OpenContent(*sparse_file);
  ASSERT_TRUE(holey);
  const std::vector<ByteRun> runs = holey->Runs();
  ASSERT_FALSE(runs.empty());
  EXPECT_TRUE(runs.front().sparse);
  EXPECT_EQ(runs.back().file_offset + runs.back().length, 65536 + sparse.size());
}

}  // namespace
}  // namespace kestrel
