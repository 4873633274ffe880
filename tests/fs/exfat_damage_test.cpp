// exFAT volumes formatted by mkfs.exfat with entry sets written into their bytes: deleted files
// as drivers leave them (contiguous, chained, with bytes past the valid length), and the damage
// no driver writes (broken sets, missing or short bitmaps, looping chains, bad boot regions,
// 4096-byte sectors, 32 MiB clusters, cut images). Each ends in a clear refusal or a skipped
// entry, never in a crash, a hang or a read outside the volume.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <set>

#include "fs/exfat/exfat_boot.h"
#include "fs/exfat/exfat_entry_set.h"
#include "fs/probe.h"
#include "platform/byte_order.h"
#include "recover/undelete_loop.h"
#include "run/messages.h"
#include "support/exfat_image.h"
#include "support/fake_run_ui.h"
#include "support/fat_image.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

using testing::PlantedExfat;
using Bytes = std::vector<uint8_t>;
using Spec = PlantedExfat::SetSpec;

constexpr uint32_t kCluster = 4096;

struct OpenedExfat {
  explicit OpenedExfat(Bytes bytes) : source(std::move(bytes)), probed(OpenFileSystem(source)) {}

  std::vector<DeletedFile> Find(const std::string& folder = "/") {
    std::vector<DeletedFile> files;
    if (probed.file_system) probed.file_system->FindDeleted(folder, run, &files);
    return files;
  }

  const DeletedFile* Named(const std::vector<DeletedFile>& files, const std::string& name) {
    for (const DeletedFile& file : files) {
      if (file.name == name) return &file;
    }
    return nullptr;
  }

  // The file's content, or nothing when a read fails.
  std::optional<Bytes> Content(const DeletedFile& file) {
    std::unique_ptr<FileContent> content = probed.file_system->OpenContent(file);
    if (!content) return std::nullopt;
    Bytes bytes;
    std::vector<uint8_t> piece(100000);
    while (!content->at_end()) {
      const int64_t got = content->ReadNext(piece.data(), piece.size());
      if (got <= 0) return std::nullopt;
      bytes.insert(bytes.end(), piece.begin(), piece.begin() + got);
    }
    return bytes;
  }

  std::set<std::string> Names(const std::string& folder = "/") {
    std::set<std::string> names;
    for (const DeletedFile& file : Find(folder)) names.insert(file.VolumePath());
    return names;
  }

  MemorySource source;
  ProbeResult probed;
  testing::FakeRunUi ui;
  RunContext run{ui};
};

class ExfatDamageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    std::optional<PlantedExfat> planted = PlantedExfat::Format(dir_.path(), 8, kCluster, &why);
    if (!planted) GTEST_SKIP() << why;
    volume_ = std::move(*planted);
  }

  // A deleted contiguous file at `first` with its content in place.
  size_t PlantFile(size_t slot, const std::string& name, uint32_t first, const Bytes& content) {
    volume_->WriteClusters(first, content);
    return volume_->PutSet(slot, {name, first, content.size()});
  }

  testing::TempDir dir_;
  std::optional<PlantedExfat> volume_;
};

TEST_F(ExfatDamageTest, BrokenSetsAreSkippedAndTheSetsAfterThemFound) {
  PlantedExfat& v = *volume_;
  const Bytes good = testing::FatTestBytes(5000, 1);
  size_t slot = v.FreeRootSlot();
  // A wrong checksum.
  const size_t bad_sum = slot;
  slot = v.PutSet(slot, {"checksum.bin", 100, 10});
  v.bytes()[v.RootEntry(bad_sum) + 2] ^= 0xFF;
  // A secondary count too small for the name's 20 characters.
  const size_t short_count = slot;
  slot = v.PutSet(slot, {"twenty characters!!!", 101, 10});
  v.bytes()[v.RootEntry(short_count) + 1] = 2;
  // A File entry whose count (18) is more than the entries that follow make a set of.
  const size_t long_count = slot;
  slot = v.PutSet(slot, {"count.bin", 102, 10});
  v.bytes()[v.RootEntry(long_count) + 1] = 18;
  // A valid length past the data length.
  slot = v.PutSet(slot, {"valid.bin", 103, 10, 20});
  // A first cluster past the heap, and a length larger than the volume.
  slot = v.PutSet(slot, {"far.bin", v.geometry().LastCluster() + 1, 10});
  slot = v.PutSet(slot, {"huge.bin", 104, uint64_t{1} << 40});
  slot = PlantFile(slot, "good.jpg", 120, good);
  // A set at the very end of the folder whose count runs past it.
  const uint64_t last = v.ClusterOffset(v.geometry().root_cluster) + kCluster - kExfatEntryBytes;
  v.bytes()[last] = 0x05;
  v.bytes()[last + 1] = 17;

  OpenedExfat opened(v.bytes());
  ASSERT_TRUE(opened.probed.file_system);
  const std::vector<DeletedFile> files = opened.Find();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].VolumePath(), "/good.jpg");
  EXPECT_EQ(opened.Content(files[0]), good);
}

TEST_F(ExfatDamageTest, BytesPastTheValidLengthAreZerosAndTheFileHasItsDataLength) {
  PlantedExfat& v = *volume_;
  const Bytes written = testing::FatTestBytes(5000, 2);
  v.WriteClusters(200, testing::FatTestBytes(3 * kCluster, 3));  // old bytes after the valid data
  v.WriteClusters(200, written);
  v.PutSet(v.FreeRootSlot(), {"grown.bin", 200, 3 * kCluster, written.size()});
  OpenedExfat opened(v.bytes());
  const std::vector<DeletedFile> files = opened.Find();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].bytes, 3u * kCluster);
  Bytes expected = written;
  expected.resize(3 * kCluster, 0);
  EXPECT_EQ(opened.Content(files[0]), expected);
  const std::vector<ByteRun> runs = opened.probed.file_system->OpenContent(files[0])->Runs();
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].length, written.size());
  EXPECT_TRUE(runs[1].sparse);
  // A copy moves past them as a hole; only the valid bytes count as stored.
  std::unique_ptr<FileContent> content = opened.probed.file_system->OpenContent(files[0]);
  EXPECT_EQ(content->StoredBytes(), written.size());
  EXPECT_EQ(content->SkipHole(), 0u) << "the valid bytes are no hole";
  Bytes piece(written.size());
  ASSERT_EQ(content->ReadNext(piece.data(), piece.size()), static_cast<int64_t>(written.size()));
  EXPECT_EQ(content->SkipHole(), 3 * kCluster - written.size());
  EXPECT_TRUE(content->at_end());
}

TEST_F(ExfatDamageTest, TimesComeFromTheStampIncrementAndZoneOffset) {
  PlantedExfat& v = *volume_;
  PlantFile(v.FreeRootSlot(), "stamped.txt", 100, {1, 2, 3});
  OpenedExfat opened(v.bytes());
  const std::vector<DeletedFile> files = opened.Find();
  ASSERT_EQ(files.size(), 1u);
  // 2024-01-15 12:34:56 at UTC+1 is 11:34:56 UTC.
  EXPECT_EQ(files[0].times.modified, 1705322096 - 3600);
  EXPECT_EQ(files[0].times.created, 1705322096 - 3600);

  const uint32_t stamp = (44u << 25) | (1u << 21) | (15u << 16) | (12u << 11) | (34u << 5) | 28u;
  EXPECT_EQ(ExfatTimestamp(stamp, 0, 0), 1705322096);    // no zone: read as UTC
  EXPECT_EQ(ExfatTimestamp(stamp, 150, 0), 1705322097);  // 1.5 s later, whole seconds
  EXPECT_EQ(ExfatTimestamp(stamp, 0, 0x80 | 0x7C), 1705322096 + 3600);  // UTC-1 (-4 quarters)
  EXPECT_EQ(ExfatTimestamp(0, 0, 0), std::nullopt);
}

TEST_F(ExfatDamageTest, ChainedFilesFollowAChainThatIsStillThereElseTheFreeClusters) {
  PlantedExfat& v = *volume_;
  const Bytes content = testing::FatTestBytes(3 * kCluster, 4);
  // Chained out of order: 300 -> 310 -> 305.
  const uint32_t chain[] = {300, 310, 305};
  for (int i = 0; i < 3; ++i) {
    v.WriteClusters(chain[i],
                    Bytes(content.begin() + i * kCluster, content.begin() + (i + 1) * kCluster));
  }
  v.SetFat(300, 310);
  v.SetFat(310, 305);
  v.SetFat(305, 0xFFFFFFFF);
  size_t slot = v.PutSet(v.FreeRootSlot(), {"chained.bin", 300, content.size(), {}, false});
  // A chain that loops back to its start: read through the free clusters instead, and no hang.
  v.SetFat(400, 401);
  v.SetFat(401, 400);
  slot = v.PutSet(slot, {"looping.bin", 400, 5 * kCluster, {}, false});
  // A chain through a cluster a live file holds now.
  v.SetFat(500, 501);
  v.SetFat(501, 0xFFFFFFFF);
  v.SetInUse(501, true);
  slot = v.PutSet(slot, {"crossed.bin", 500, 2 * kCluster, {}, false});
  // A first cluster in use again: overwritten, not written.
  v.SetInUse(600, true);
  v.PutSet(slot, {"taken.bin", 600, 100});

  OpenedExfat opened(v.bytes());
  const std::vector<DeletedFile> files = opened.Find();
  ASSERT_EQ(files.size(), 4u);
  const DeletedFile* chained = opened.Named(files, "chained.bin");
  ASSERT_TRUE(chained);
  EXPECT_EQ(chained->state, FileState::kIntact);
  EXPECT_EQ(opened.Content(*chained), content);

  const DeletedFile* looping = opened.Named(files, "looping.bin");
  ASSERT_TRUE(looping);
  const std::vector<ByteRun> runs = opened.probed.file_system->OpenContent(*looping)->Runs();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].volume_offset, v.ClusterOffset(400));
  EXPECT_EQ(runs[0].length, 5u * kCluster);

  const DeletedFile* crossed = opened.Named(files, "crossed.bin");
  ASSERT_TRUE(crossed);
  EXPECT_EQ(crossed->state, FileState::kPartlyOverwritten);
  const std::vector<ByteRun> passed = opened.probed.file_system->OpenContent(*crossed)->Runs();
  ASSERT_EQ(passed.size(), 2u);
  EXPECT_EQ(passed[1].volume_offset, v.ClusterOffset(502));

  const DeletedFile* taken = opened.Named(files, "taken.bin");
  ASSERT_TRUE(taken);
  EXPECT_EQ(taken->state, FileState::kOverwritten);
  EXPECT_FALSE(opened.probed.file_system->OpenContent(*taken));
}

TEST_F(ExfatDamageTest, HostileNamesAreWrittenSafeAndKeptAsReadBeside) {
  PlantedExfat& v = *volume_;
  const std::map<std::string, std::string> written_by_read = {
      {"\x1b]0;X\x07.txt", "_]0;X_.txt"},
      {"a\nb\tc.txt", "a_b_c.txt"},
      {"...", "___"},
      {" ", "_"},
      {".", "_"},
  };
  size_t slot = v.FreeRootSlot();
  uint32_t cluster = 700;
  for (const auto& [as_read, written] : written_by_read)
    slot = v.PutSet(slot, {as_read, cluster++, 10});
  OpenedExfat opened(v.bytes());
  std::map<std::string, std::string> found;
  for (const DeletedFile& file : opened.Find()) found[file.name_as_read] = file.name;
  EXPECT_EQ(found, written_by_read);
}

TEST_F(ExfatDamageTest, AVolumeWithoutAUsableBitmapOrRootIsRefusedWith125) {
  PlantedExfat& v = *volume_;
  const uint64_t bitmap = v.FindRootEntry(0x81);
  const Bytes intact = v.bytes();
  struct Case {
    const char* what;
    std::function<void(Bytes&)> damage;
  };
  const Case cases[] = {
      {"bitmap entry gone", [&](Bytes& b) { b[bitmap] = 0x01; }},
      {"bitmap shorter than the clusters", [&](Bytes& b) { std::memset(&b[bitmap + 24], 0, 8); }},
      {"bitmap outside the heap", [&](Bytes& b) { std::memset(&b[bitmap + 20], 0xEE, 4); }},
      {"root chain looping",
       [&](Bytes& b) {
         const uint32_t root = v.geometry().root_cluster;
         std::memcpy(&b[v.geometry().fat_offset + root * 4], &root, 4);
       }},
      {"root chain without an end", [&](Bytes& b) {
         const uint64_t at = v.geometry().fat_offset + v.geometry().root_cluster * 4;
         std::memset(&b[at], 0, 4);
       }}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes damaged = intact;
    c.damage(damaged);
    MemorySource source(damaged);
    ProbeResult probed = OpenFileSystem(source);
    EXPECT_FALSE(probed.file_system);
    EXPECT_EQ(probed.refusal, msg::kExfatRefused);
  }
  // The up-case table is not needed to bring files back.
  Bytes no_upcase = intact;
  no_upcase[v.FindRootEntry(0x82)] = 0x02;
  MemorySource source(no_upcase);
  EXPECT_TRUE(OpenFileSystem(source).file_system);
}

TEST_F(ExfatDamageTest, ABootRegionWhoseChecksumDisagreesGivesWayToTheBackup) {
  PlantedExfat& v = *volume_;
  PlantFile(v.FreeRootSlot(), "kept.jpg", 100, testing::FatTestBytes(700, 5));
  auto source_of = [](const Bytes& bytes) {
    MemorySource source(bytes);
    BootSector boot{};
    std::memcpy(boot.data(), bytes.data(), boot.size());
    return ReadExfatGeometry(source, boot);
  };
  EXPECT_EQ(source_of(v.bytes())->boot_source, ExfatBootSource::kMain);

  Bytes main_changed = v.bytes();
  main_changed[300] ^= 1;  // boot code, covered by the checksum
  EXPECT_EQ(source_of(main_changed)->boot_source, ExfatBootSource::kBackup);
  EXPECT_EQ(OpenedExfat(main_changed).Names(), std::set<std::string>{"/kept.jpg"});

  Bytes both_changed = main_changed;
  both_changed[12 * 512 + 300] ^= 1;
  EXPECT_EQ(source_of(both_changed)->boot_source, ExfatBootSource::kMainUnverified);
  EXPECT_EQ(OpenedExfat(both_changed).Names(), std::set<std::string>{"/kept.jpg"});

  Bytes main_insane = v.bytes();
  main_insane[108] = 13;  // 8 KiB sectors
  EXPECT_EQ(source_of(main_insane)->boot_source, ExfatBootSource::kBackup);
  EXPECT_EQ(OpenedExfat(main_insane).Names(), std::set<std::string>{"/kept.jpg"});
}

// The same volume described with 4096-byte sectors: every field in sectors shrinks eightfold,
// every byte stays where it was.
TEST_F(ExfatDamageTest, FourKibSectorsAreReadByByteOffsets) {
  PlantedExfat& v = *volume_;
  const Bytes content = testing::FatTestBytes(9000, 6);
  PlantFile(v.FreeRootSlot(), "four.jpg", 100, content);
  Bytes big = v.bytes();
  uint8_t* boot = big.data();
  const auto shrink64 = [&](size_t at) {
    const uint64_t value = LoadLe64(boot + at) / 8;
    std::memcpy(boot + at, &value, 8);
  };
  const auto shrink32 = [&](size_t at) {
    const uint32_t value = (LoadLe32(boot + at) + 7) / 8;
    std::memcpy(boot + at, &value, 4);
  };
  shrink64(72);
  for (size_t at : {80, 84, 88}) shrink32(at);
  boot[108] = 12;
  boot[109] = static_cast<uint8_t>(boot[109] - 3);
  // Sectors 1..11 of 4096 bytes: the old backup region and zeros, then the checksum.
  std::memset(boot + 512, 0, 12 * 4096 - 512);
  const uint32_t checksum = ExfatBootChecksum(boot, 4096);
  for (size_t at = 11 * 4096; at < 12 * 4096; at += 4) std::memcpy(boot + at, &checksum, 4);
  MemorySource source(big);
  BootSector sector{};
  std::memcpy(sector.data(), boot, sector.size());
  ASSERT_EQ(ReadExfatGeometry(source, sector)->boot_source, ExfatBootSource::kMain);
  OpenedExfat opened(big);
  const std::vector<DeletedFile> files = opened.Find();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(opened.Content(files[0]), content);
}

TEST_F(ExfatDamageTest, ACutImageGivesUpTheFilesPastItsEnd) {
  PlantedExfat& v = *volume_;
  const Bytes near = testing::FatTestBytes(3000, 7);
  size_t slot = PlantFile(v.FreeRootSlot(), "near.jpg", 20, near);
  PlantFile(slot, "far.jpg", 1000, testing::FatTestBytes(3000, 8));
  Bytes cut(v.bytes().begin(), v.bytes().begin() + static_cast<ptrdiff_t>(v.ClusterOffset(100)));
  OpenedExfat opened(cut);
  const std::vector<DeletedFile> files = opened.Find();
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(opened.Content(*opened.Named(files, "near.jpg")), near);
  EXPECT_EQ(opened.Content(*opened.Named(files, "far.jpg")), std::nullopt);
  std::unique_ptr<FreeSpaceMap> map;
  ASSERT_EQ(opened.probed.file_system->OpenFreeSpace(&map), FreeSpaceResult::kOk);
  SectorRun run;
  uint64_t last_end = 0;
  for (uint64_t from = 0; map->NextRun(from, &run); from = run.end()) last_end = run.end();
  EXPECT_EQ(last_end, cut.size() / 512);
}

// A folder entry that names the root's own cluster, and one that names itself: each cluster
// is read as a folder once.
TEST_F(ExfatDamageTest, FoldersThatLoopBackAreReadOnce) {
  PlantedExfat& v = *volume_;
  const uint32_t root = v.geometry().root_cluster;
  size_t slot = PlantFile(v.FreeRootSlot(), "inside.jpg", 100, {9, 9, 9});
  slot = v.PutSet(slot, {"Loop", root, kCluster, {}, true, false, true});
  v.PutSet(slot, {"Again", 50, kCluster, {}, true, true, true});
  v.PutSetAt(v.ClusterOffset(50), {"Again", 50, kCluster, {}, true, true, true});
  OpenedExfat opened(v.bytes());
  EXPECT_EQ(opened.Names(), std::set<std::string>{"/inside.jpg"});
}

TEST_F(ExfatDamageTest, FreeSpaceIsTheClustersTheBitmapMarksFree) {
  PlantedExfat& v = *volume_;
  OpenedExfat fresh(v.bytes());
  std::unique_ptr<FreeSpaceMap> map;
  ASSERT_EQ(fresh.probed.file_system->OpenFreeSpace(&map), FreeSpaceResult::kOk);
  EXPECT_EQ(map->file_system(), "exFAT");
  const uint64_t free_before = map->free_sectors();
  v.SetInUse(100, true);
  OpenedExfat used(v.bytes());
  ASSERT_EQ(used.probed.file_system->OpenFreeSpace(&map), FreeSpaceResult::kOk);
  EXPECT_EQ(map->free_sectors(), free_before - kCluster / 512);
  SectorRun run;
  ASSERT_TRUE(map->NextRun(v.ClusterOffset(99) / 512, &run));
  EXPECT_EQ(run.first, v.ClusterOffset(99) / 512);
  EXPECT_EQ(run.count, kCluster / 512);
  ASSERT_TRUE(map->NextRun(v.ClusterOffset(100) / 512, &run));
  EXPECT_EQ(run.first, v.ClusterOffset(101) / 512);
  // Nothing before the heap is offered.
  ASSERT_TRUE(map->NextRun(0, &run));
  EXPECT_GE(run.first * 512, v.geometry().heap_offset);

  // A bitmap that cannot be read whole gives no map: it is moved to the last cluster, past
  // the end of the cut image.
  const uint32_t last = v.geometry().LastCluster();
  std::memcpy(&v.bytes()[v.FindRootEntry(0x81) + 20], &last, 4);
  Bytes cut(v.bytes().begin(), v.bytes().begin() + static_cast<ptrdiff_t>(v.ClusterOffset(last)));
  MemorySource source(cut);
  ProbeResult probed = OpenFileSystem(source);
  ASSERT_TRUE(probed.file_system);
  EXPECT_EQ(probed.file_system->OpenFreeSpace(&map), FreeSpaceResult::kUnreadable);
}

// The largest clusters exFAT allows, on a sparse image read from its file: a deleted file is
// written into the last cluster, past 128 MiB.
TEST(ExfatLargeClusters, ThirtyTwoMibClustersAreRead) {
  if (!testing::HaveTool("mkfs.exfat")) GTEST_SKIP() << "mkfs.exfat (exfatprogs) is not installed";
  testing::TempDir dir;
  const std::string path = dir / "large.img";
  ASSERT_EQ(testing::RunCommand("truncate -s 192M " + path + " && mkfs.exfat -c 32M " + path +
                                " >/dev/null"),
            0);
  // Patched in place: the image stays sparse.
  std::fstream image(path, std::ios::in | std::ios::out | std::ios::binary);
  const auto read_at = [&](uint64_t at, size_t length) {
    Bytes bytes(length);
    image.seekg(static_cast<std::streamoff>(at));
    image.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(length));
    return bytes;
  };
  const auto write_at = [&](uint64_t at, const uint8_t* bytes, size_t length) {
    image.seekp(static_cast<std::streamoff>(at));
    image.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(length));
  };
  const std::optional<ExfatGeometry> geometry = ParseExfatBootSector(read_at(0, 512).data());
  ASSERT_TRUE(geometry);
  ASSERT_EQ(geometry->BytesPerCluster(), 32u << 20);
  const uint32_t last = geometry->LastCluster();
  ASSERT_GT(last, geometry->root_cluster);
  const uint64_t root = geometry->ClusterOffset(geometry->root_cluster);
  const Bytes root_entries = read_at(root, 4096);
  uint64_t slot = 0;
  while (root_entries[slot] != 0) slot += kExfatEntryBytes;
  const Bytes content = testing::FatTestBytes(100000, 9);
  write_at(geometry->ClusterOffset(last), content.data(), content.size());
  for (const ExfatRawEntry& entry :
       PlantedExfat::MakeSet({"huge cluster.jpg", last, content.size()})) {
    write_at(root + slot, entry.data(), entry.size());
    slot += kExfatEntryBytes;
  }
  image.close();
  std::unique_ptr<FileByteSource> source = FileByteSource::Open(path);
  ASSERT_TRUE(source);
  ProbeResult probed = OpenFileSystem(*source);
  ASSERT_TRUE(probed.file_system);
  testing::FakeRunUi ui;
  RunContext run(ui);
  std::vector<DeletedFile> files;
  ASSERT_EQ(probed.file_system->FindDeleted("/", run, &files), SearchResult::kDone);
  ASSERT_EQ(files.size(), 1u);
  std::unique_ptr<FileContent> read = probed.file_system->OpenContent(files[0]);
  ASSERT_TRUE(read);
  Bytes back(content.size());
  for (size_t at = 0; !read->at_end();) {
    const int64_t got = read->ReadNext(back.data() + at, back.size() - at);
    ASSERT_GT(got, 0);
    at += static_cast<size_t>(got);
  }
  EXPECT_EQ(back, content);
}

}  // namespace
}  // namespace kestrel
