// The NTFS part of "Recover deleted files" on volumes made by mkntfs and libntfs-3g: files are
// written and deleted without mounting, then recovered and compared byte for byte.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>

#include "fs/ntfs/ntfs_file_system.h"
#include "fs/ntfs/ntfs_volume.h"
#include "recover/undelete_loop.h"
#include "run/messages.h"
#include "sources/scan_source.h"
#include "support/fake_run_ui.h"
#include "support/ntfs_image.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

#ifndef KESTREL_NTFS_TOOL_PATH
#define KESTREL_NTFS_TOOL_PATH ""
#endif

namespace kestrel {
namespace {

using testing::FakeRunUi;
using testing::ListFiles;
using testing::NtfsImage;
using testing::PatternBytes;
using testing::ReadFileBytes;
using testing::TempDir;

constexpr uint64_t kCluster = 4096;

// One run of the NTFS recovery against a source, with a recorder for the screen.
struct NtfsRun {
  NtfsRun(const TempDir& dir, std::unique_ptr<ByteSource> bytes)
      : out(dir / ("out" + std::to_string(++runs_made))) {
    std::filesystem::create_directories(out);
    source.bytes = std::move(bytes);
    source.sector_count = source.bytes->Size() / 512;
    source.bytes->ReadExact(0, source.boot_sector.data(), source.boot_sector.size());
    types.mask = kAllFileTypesMask;
    types.scan_all = 1;
    context.SetRunFolder(out + "/");
  }

  void Run(const std::string& folder = "/", std::vector<DeletedFileListing>* listing = nullptr,
           bool keep_paths = false) {
    NtfsFileSystem file_system(*source.bytes);
    UndeleteRequest request{context, types, folder, keep_paths, listing, {}};
    result = UndeleteFiles(file_system, request);
    report = request.report;
  }

  std::vector<uint8_t> Output(const std::string& name) const {
    return ReadFileBytes(out + "/" + name);
  }

  static inline int runs_made = 0;
  FakeRunUi ui;
  RunContext context{ui};
  FileTypeSelection types;
  ScanSource source;
  std::string out;
  DeletedReport report;
  RunResult result;
};

// The byte offset of the MFT (its first cluster is at boot sector offset 48).
uint64_t MftStart(const std::vector<uint8_t>& image) {
  uint64_t mft_cluster;
  std::memcpy(&mft_cluster, &image[48], 8);
  return mft_cluster * kCluster;
}

// The byte offset in `image` of the deleted file record named `name` (the MFT of a fresh
// volume is one run, so record n lies n records after its start).
std::optional<size_t> FindRecord(const std::vector<uint8_t>& image, const std::string& name) {
  MemorySource source(image);
  NtfsDrive drive(source);
  if (drive.LoadMft() != 0) return std::nullopt;
  for (uint64_t record = 0; record < drive.record_count(); ++record) {
    NtfsFileDetail detail;
    if (drive.GetFileDetail(record, &detail) == 0 && detail.deleted && detail.name == name) {
      return MftStart(image) + record * drive.record_size();
    }
  }
  return std::nullopt;
}

// Offset inside a raw record of its first attribute of `type` (the walk needs no fix-up as long
// as the headers it reads lie in the first stride, as in every small record here).
size_t FindAttribute(const std::vector<uint8_t>& image, size_t record, uint32_t type) {
  size_t at = record + (image[record + 20] | (image[record + 21] << 8));
  for (;;) {
    uint32_t t, length;
    std::memcpy(&t, &image[at], 4);
    std::memcpy(&length, &image[at + 4], 4);
    if (t == type || t == 0xFFFFFFFF || length == 0) break;
    at += length;
  }
  EXPECT_LT((at - record) % 512, 400u) << "attribute header near a stride end";
  return at;
}

class NtfsRecoveryTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_.emplace();
    std::string why;
    std::optional<NtfsImage> image =
        NtfsImage::Create(KESTREL_NTFS_TOOL_PATH, *dir_ / "ntfs.img", 24, &why);
    if (!image) {
      skip_reason_ = why;
      return;
    }
    originals_ = {
        {"small.txt", PatternBytes(300, 1)},
        {"big.bin", PatternBytes(300000, 2)},
        {"frag_a.dat", PatternBytes(150000, 3)},
        {"frag_b.dat", PatternBytes(170001, 4)},
        {"Ünïcødé 日本.txt", PatternBytes(9000, 5)},
        {"A.JPEG", PatternBytes(7000, 6)},
        {"dup.txt", PatternBytes(40, 7)},
        {"dup - Copy(1).txt", PatternBytes(50, 8)},
        {"many_a.dat", PatternBytes(1200000, 12)},
        {"many_b.dat", PatternBytes(1200000, 13)},
        {"inner.txt", PatternBytes(3000, 14)},
    };
    auto& o = originals_;
    // Compressible text with a stretch of noise in it: LZNT1 units, raw units and a short tail.
    std::string text;
    for (int i = 0; text.size() < 150000; ++i)
      text += "line " + std::to_string(i % 97) + " of text\n";
    o["packed.txt"].assign(text.begin(), text.end());
    const auto noise = PatternBytes(70000, 15);
    o["packed.txt"].insert(o["packed.txt"].begin() + 40000, noise.begin(), noise.end());
    std::vector<uint8_t> sparse_tail = PatternBytes(5000, 9);
    std::vector<uint8_t> sparse(200000 + sparse_tail.size(), 0);
    std::copy(sparse_tail.begin(), sparse_tail.end(), sparse.end() - sparse_tail.size());
    o["sparse.bin"] = sparse;
    bool built = image->WriteFile("/keep.txt", PatternBytes(5000, 10)) &&
                 image->WriteFile("/small.txt", o["small.txt"]) &&
                 image->WriteFile("/big.bin", o["big.bin"]) &&
                 image->AddStream("/big.bin", "alt", PatternBytes(20000, 11)) &&
                 image->WriteInterleaved("/frag_a.dat", o["frag_a.dat"], "/frag_b.dat",
                                         o["frag_b.dat"], 8192) &&
                 image->WriteSparse("/sparse.bin", sparse_tail, 200000) &&
                 image->MakeFolder("/d") && image->MakeFolder("/gone") &&
                 image->WriteFile("/d/Ünïcødé 日本.txt", o["Ünïcødé 日本.txt"]) &&
                 image->WriteFile("/A.JPEG", o["A.JPEG"]) &&
                 image->WriteFile("/dup.txt", o["dup.txt"]) &&
                 image->WriteFile("/d/dup.txt", o["dup - Copy(1).txt"]) &&
                 // Hundreds of runs.
                 image->WriteInterleaved("/many_a.dat", o["many_a.dat"], "/many_b.dat",
                                         o["many_b.dat"], 4096) &&
                 image->MakeFolder("/old") && image->WriteFile("/old/inner.txt", o["inner.txt"]) &&
                 image->MakeCompressedFolder("/packed") &&
                 image->WriteFile("/packed/packed.txt", o["packed.txt"]);
    for (const char* path :
         {"/small.txt", "/big.bin", "/frag_a.dat", "/frag_b.dat", "/sparse.bin",
          "/d/Ünïcødé 日本.txt", "/A.JPEG", "/dup.txt", "/d/dup.txt", "/gone", "/many_a.dat",
          "/many_b.dat", "/old/inner.txt", "/old", "/packed/packed.txt"}) {
      built = built && image->Delete(path);
    }
    if (!built) {
      skip_reason_ = "building the NTFS image failed";
      return;
    }
    image_path_ = image->path();
    image_bytes_ = ReadFileBytes(image_path_);
  }

  void SetUp() override {
    if (skip_reason_) GTEST_SKIP() << *skip_reason_;
  }

  std::unique_ptr<NtfsRun> FromImage() {
    return std::make_unique<NtfsRun>(run_dir_, FileByteSource::Open(image_path_));
  }
  std::unique_ptr<NtfsRun> FromBytes(std::vector<uint8_t> bytes) {
    return std::make_unique<NtfsRun>(run_dir_, std::make_unique<MemorySource>(std::move(bytes)));
  }

  TempDir run_dir_;
  testing::ScopedEnv no_devices_{"KESTREL_NO_DEVICES", "1"};
  testing::ScopedEnv registry_{"KESTREL_REGISTRY", run_dir_ / "registry.reg"};

  static inline std::optional<TempDir> dir_;
  static inline std::map<std::string, std::vector<uint8_t>> originals_;
  static inline std::string image_path_;
  static inline std::vector<uint8_t> image_bytes_;
  static inline std::optional<std::string> skip_reason_;
};

TEST_F(NtfsRecoveryTest, EveryDeletedFileComesBackByteForByte) {
  auto run = FromImage();
  run->Run();
  std::vector<std::string> expected;
  for (const auto& [name, content] : originals_) {
    expected.push_back(name);
    EXPECT_EQ(run->Output(name), content) << name;
  }
  // Live files, the deleted folder and the named stream are not written.
  EXPECT_EQ(ListFiles(run->out), expected);  // both in byte order
  EXPECT_EQ(run->ui.MessageIds(), std::vector<int>{msg::kCompleted});
  EXPECT_EQ(run->context.recovered_count(), expected.size());
  EXPECT_EQ(run->ui.recovered_count, " " + std::to_string(expected.size()));
  ASSERT_EQ(run->ui.rows.size(), expected.size());
  for (const ResultRow& row : run->ui.rows) {
    EXPECT_EQ(row.bytes, originals_.at(row.name).size()) << row.name;
    EXPECT_EQ(row.folder_text, run->out + "/");
  }
  EXPECT_EQ(run->ui.bar_position, run->ui.bar_high);  // the bar is full
  EXPECT_GT(run->ui.bar_high, 0u);
  EXPECT_EQ(run->ui.status, "");
  EXPECT_EQ(run->ui.file_bar_range, 0u);
}

// The file of the compressed folder is stored compressed (and comes back whole, above): its
// $DATA carries the compressed flag and a compression unit.
TEST_F(NtfsRecoveryTest, TheCompressedFileIsStoredCompressed) {
  std::optional<size_t> record = FindRecord(image_bytes_, "packed.txt");
  ASSERT_TRUE(record);
  const size_t data = FindAttribute(image_bytes_, *record, 0x80);
  EXPECT_EQ(image_bytes_[data + 12] & 0x01, 0x01) << "packed.txt was not written compressed";
  EXPECT_EQ(image_bytes_[data + 34], 4);
}

// The hole of a sparse file stays a hole in the copy: only the clusters holding data take room.
TEST_F(NtfsRecoveryTest, TheHoleOfASparseFileStaysAHole) {
  auto run = FromImage();
  run->Run();
  struct stat st {};
  ASSERT_EQ(::stat((run->out + "/sparse.bin").c_str(), &st), 0);
  EXPECT_EQ(static_cast<size_t>(st.st_size), originals_.at("sparse.bin").size());
  EXPECT_LE(st.st_blocks * 512, 64 * 1024) << "the hole was written as zeros";
}

// Compressed data that does not decompress costs that file only, and is named with its own text,
// not with the text of a read error.
TEST_F(NtfsRecoveryTest, UndecodableCompressedDataCostsThatFileOnly) {
  std::vector<uint8_t> image = image_bytes_;
  std::optional<size_t> record = FindRecord(image, "packed.txt");
  ASSERT_TRUE(record);
  const size_t data = FindAttribute(image, *record, 0x80);
  const size_t runs = data + (image[data + 32] | image[data + 33] << 8);
  const unsigned length_bytes = image[runs] & 0x0F;
  const unsigned offset_bytes = image[runs] >> 4;
  uint64_t first_cluster = 0;
  for (unsigned i = 0; i < offset_bytes; ++i) {
    first_cluster |= uint64_t{image[runs + 1 + length_bytes + i]} << (8 * i);
  }
  // A compressed chunk whose first token copies from before the chunk's start.
  const size_t chunk = first_cluster * 4096;
  ASSERT_LT(chunk + 3, image.size());
  image[chunk] = 0xFF;
  image[chunk + 1] = 0xBF;
  image[chunk + 2] = 0xFF;
  auto run = FromBytes(std::move(image));
  run->Run();
  EXPECT_EQ(run->report.undecodable, std::vector<std::string>{"/packed/packed.txt"});
  EXPECT_TRUE(run->report.unreadable.empty());
  EXPECT_NE(run->ui.status.find(MessageText(msg::kUndecodableData)), std::string::npos)
      << run->ui.status;
  EXPECT_EQ(run->ui.status.find(MessageText(msg::kCannotReadDevice)), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(run->out + "/packed.txt"));
  EXPECT_EQ(run->Output("small.txt"), originals_.at("small.txt"));
}

TEST_F(NtfsRecoveryTest, SelectedFolderLimitsTheFilesToThoseBelowIt) {
  auto d = FromImage();
  d->Run("/D");  // names compared without regard to case
  EXPECT_EQ(ListFiles(d->out), (std::vector<std::string>{"dup.txt", "Ünïcødé 日本.txt"}));
  EXPECT_EQ(d->Output("dup.txt"), originals_.at("dup - Copy(1).txt"));
  EXPECT_EQ(d->ui.MessageIds(), std::vector<int>{msg::kCompleted});

  auto old = FromImage();  // a deleted folder
  old->Run("/old");
  EXPECT_EQ(ListFiles(old->out), std::vector<std::string>{"inner.txt"});

  auto none = FromImage();
  none->Run("/no such folder");
  EXPECT_TRUE(ListFiles(none->out).empty());
  EXPECT_EQ(none->ui.MessageIds(), std::vector<int>{msg::kNothingFound});
}

TEST_F(NtfsRecoveryTest, KeptPathsRecreateTheVolumeFolders) {
  auto run = FromImage();
  run->Run("/", nullptr, true);
  EXPECT_EQ(run->Output("d/dup.txt"), originals_.at("dup - Copy(1).txt"));
  EXPECT_EQ(run->Output("old/inner.txt"), originals_.at("inner.txt"));
  EXPECT_FALSE(std::filesystem::exists(run->out + "/inner.txt"));
  EXPECT_EQ(run->context.recovered_count(), originals_.size());
  for (const ResultRow& row : run->ui.rows) {
    if (row.name == "inner.txt") {
      EXPECT_EQ(row.folder_text, run->out + "/old/");
    }
  }
}

TEST_F(NtfsRecoveryTest, ListingNamesPathsSizesAndStatesAndWritesNothing) {
  auto run = FromImage();
  std::vector<DeletedFileListing> listing;
  run->Run("/", &listing);
  EXPECT_TRUE(ListFiles(run->out).empty());
  EXPECT_TRUE(run->ui.MessageIds().empty());
  std::map<std::string, DeletedFileListing> by_path;
  for (const DeletedFileListing& file : listing) by_path[file.path] = file;
  EXPECT_EQ(by_path.size(), originals_.size());
  ASSERT_EQ(by_path.count("/old/inner.txt"), 1u);
  EXPECT_EQ(by_path["/old/inner.txt"].bytes, 3000u);
  EXPECT_EQ(by_path["/old/inner.txt"].state, FileState::kIntact);
  EXPECT_EQ(by_path.count("/d/dup.txt"), 1u);
  EXPECT_EQ(by_path.count("/packed/packed.txt"), 1u);
  EXPECT_EQ(by_path.count("/many_b.dat"), 1u);
}

TEST_F(NtfsRecoveryTest, TypeFilterReadsJpeAsJpgAndKeepsTheName) {
  auto run = FromImage();
  run->types.scan_all = 0;
  run->types.mask = TypeBit(kJpg);
  run->Run();
  EXPECT_EQ(ListFiles(run->out), std::vector<std::string>{"A.JPEG"});
  EXPECT_EQ(run->Output("A.JPEG"), originals_.at("A.JPEG"));
  EXPECT_EQ(run->ui.MessageIds(), std::vector<int>{msg::kCompleted});

  auto none = FromImage();
  none->types.scan_all = 0;
  none->types.mask = TypeBit(kPdf);
  none->Run();
  EXPECT_TRUE(ListFiles(none->out).empty());
  EXPECT_EQ(none->ui.MessageIds(), std::vector<int>{msg::kNothingFound});
}

TEST_F(NtfsRecoveryTest, CancelDuringACopyLeavesNoPartialFile) {
  auto run = FromImage();
  FakeRunUi& ui = run->ui;
  ui.yes_no_answers = {MessageAnswer::kYes};
  ui.on_pump = [&] {
    if (ui.file_bar_position > 0 && ui.messages.empty()) run->context.RequestCancel();
  };
  run->Run();
  EXPECT_EQ(ui.MessageIds(), std::vector<int>{msg::kConfirmCancel});
  for (const std::string& name : ListFiles(run->out)) {
    EXPECT_EQ(run->Output(name), originals_.at(name)) << name;
  }
  EXPECT_LT(ListFiles(run->out).size(), originals_.size());
}

TEST_F(NtfsRecoveryTest, AnUnreadableFileCostsThatFileOnly) {
  const std::vector<uint8_t>& big = originals_.at("big.bin");
  auto found = std::search(image_bytes_.begin(), image_bytes_.end(), big.begin() + 150000,
                           big.begin() + 150064);
  ASSERT_NE(found, image_bytes_.end());
  auto faulty = std::make_unique<FaultInjectingSource>(FileByteSource::Open(image_path_));
  faulty->FailSectors(static_cast<uint64_t>(found - image_bytes_.begin()) / 512, 1);
  auto run = std::make_unique<NtfsRun>(run_dir_, std::move(faulty));
  run->Run();
  EXPECT_EQ(run->ui.MessageIds(), std::vector<int>{msg::kCompleted});
  EXPECT_EQ(run->report.unreadable, std::vector<std::string>{"/big.bin"});
  EXPECT_NE(run->ui.status.find(MessageText(msg::kCannotReadDevice)), std::string::npos);
  EXPECT_NE(run->ui.status.find("big.bin"), std::string::npos);
  // Every other deleted file still comes back, byte for byte; nothing of big.bin is left.
  std::vector<std::string> expected;
  for (const auto& [name, content] : originals_) {
    if (name != "big.bin") expected.push_back(name);
  }
  EXPECT_EQ(ListFiles(run->out), expected);
  for (const std::string& name : expected) EXPECT_EQ(run->Output(name), originals_.at(name));
  for (const ResultRow& row : run->ui.rows) EXPECT_NE(row.name, "big.bin");
}

TEST_F(NtfsRecoveryTest, DamagedRecordsAreSkippedAndTheRestRecovered) {
  std::vector<uint8_t> image = image_bytes_;
  std::optional<size_t> small = FindRecord(image, "small.txt");
  std::optional<size_t> big = FindRecord(image, "big.bin");
  std::optional<size_t> frag = FindRecord(image, "frag_a.dat");
  std::optional<size_t> short_runs = FindRecord(image, "frag_b.dat");
  ASSERT_TRUE(small && big && frag && short_runs);
  // A size past what the runs hold (extents lost): the file would come back cut.
  const uint64_t claimed = 4 * originals_.at("frag_b.dat").size();
  std::memcpy(&image[FindAttribute(image, *short_runs, 0x80) + 48], &claimed, 8);
  image[*small + 510] ^= 0x55;  // torn: stride tail no longer the sequence number
  std::memset(&image[FindAttribute(image, *big, 0x80) + 4], 0, 4);  // $DATA length 0
  // First run of frag_a.dat moved far past the end of the volume.
  size_t data = FindAttribute(image, *frag, 0x80);
  size_t runs = data + (image[data + 32] | (image[data + 33] << 8));
  const unsigned length_size = image[runs] & 0x0F, offset_size = image[runs] >> 4;
  for (unsigned i = 0; i < offset_size; ++i) image[runs + 1 + length_size + i] = 0x7F;
  auto run = FromBytes(std::move(image));
  run->Run();
  std::vector<std::string> expected;
  for (const auto& [name, content] : originals_) {
    if (name == "small.txt" || name == "big.bin" || name == "frag_a.dat" || name == "frag_b.dat") {
      continue;
    }
    expected.push_back(name);
    EXPECT_EQ(run->Output(name), content) << name;
  }
  EXPECT_EQ(ListFiles(run->out), expected);  // both in byte order
  EXPECT_EQ(run->ui.MessageIds(), std::vector<int>{msg::kCompleted});
}

TEST_F(NtfsRecoveryTest, TheLastRecordOfTheMftIsExamined) {
  // Cut the MFT's size so that the record of A.JPEG is its very last one.
  std::vector<uint8_t> image = image_bytes_;
  std::optional<size_t> jpeg = FindRecord(image, "A.JPEG");
  ASSERT_TRUE(jpeg);
  const uint64_t mft_start = MftStart(image);
  const uint64_t last_record = (*jpeg - mft_start) / 1024;
  const uint64_t size = (last_record + 1) * 1024;
  size_t data = FindAttribute(image, mft_start, 0x80);
  std::memcpy(&image[data + 48], &size, 8);
  std::memcpy(&image[data + 56], &size, 8);
  {
    MemorySource probe(image);
    NtfsDrive drive(probe);
    ASSERT_EQ(drive.LoadMft(), 0);
    ASSERT_EQ(drive.record_count(), last_record + 1);
  }
  auto run = FromBytes(std::move(image));
  run->Run();
  std::vector<std::string> written = ListFiles(run->out);
  EXPECT_EQ(std::count(written.begin(), written.end(), "A.JPEG"), 1);
  EXPECT_EQ(run->Output("A.JPEG"), originals_.at("A.JPEG"));
}

TEST_F(NtfsRecoveryTest, MftSizeIsBoundedAndAnUnusableMftEndsSilently) {
  // An absurd $MFT size allocates no more than the runs map.
  std::vector<uint8_t> image = image_bytes_;
  const uint64_t mft_start = MftStart(image);
  size_t data = FindAttribute(image, mft_start, 0x80);
  const uint64_t absurd = uint64_t{1} << 45;
  std::memcpy(&image[data + 40], &absurd, 8);
  std::memcpy(&image[data + 48], &absurd, 8);
  MemorySource probe(image);
  NtfsDrive drive(probe);
  ASSERT_EQ(drive.LoadMft(), 0);
  EXPECT_LT(drive.record_count() * drive.record_size(), image.size());

  // A first run of absurd length, or no NTFS signature: no load, no box, no file.
  size_t runs = data + (image[data + 32] | (image[data + 33] << 8));
  std::vector<uint8_t> long_run = image;
  long_run[runs + (image[runs] & 0x0F)] = 0x7F;
  std::vector<uint8_t> not_ntfs = image;
  not_ntfs[3] = 'X';
  for (auto* broken : {&long_run, &not_ntfs}) {
    MemorySource source(*broken);
    NtfsDrive broken_drive(source);
    EXPECT_EQ(broken_drive.LoadMft(), broken == &long_run ? 87 : 15);
    auto run = FromBytes(*broken);
    run->Run();
    EXPECT_TRUE(run->ui.messages.empty());
    EXPECT_TRUE(ListFiles(run->out).empty());
  }
}

// A deleted file larger than 4 GiB is streamed whole: its length and last bytes survive.
TEST(NtfsLargeFile, ContentBeyondFourGiBIsReadInPieces) {
  TempDir dir;
  std::string why;
  std::optional<NtfsImage> image =
      NtfsImage::Create(KESTREL_NTFS_TOOL_PATH, dir / "large.img", 64, &why);
  if (!image) GTEST_SKIP() << why;
  const uint64_t hole = (uint64_t{1} << 32) + 12345;
  std::vector<uint8_t> tail = PatternBytes(70000, 12);
  ASSERT_TRUE(image->WriteSparse("/huge.bin", tail, hole));
  ASSERT_TRUE(image->Delete("/huge.bin"));
  auto source = FileByteSource::Open(image->path());
  NtfsDrive drive(*source);
  ASSERT_EQ(drive.LoadMft(), 0);
  std::optional<NtfsDataReader> data;
  for (uint64_t record = 0; record < drive.record_count() && !data; ++record) {
    NtfsFileDetail detail;
    if (drive.GetFileDetail(record, &detail) == 0 && detail.name == "huge.bin") {
      EXPECT_TRUE(detail.deleted);
      ASSERT_EQ(drive.ReadFileData(record, &data), 0);
    }
  }
  ASSERT_TRUE(data);
  ASSERT_EQ(data->length(), hole + tail.size());
  std::vector<uint8_t> piece(kNtfsPieceBytes);
  const std::vector<uint8_t> zero_piece(kNtfsPieceBytes, 0);
  std::vector<uint8_t> end;
  bool zeros = true;
  while (!data->at_end()) {
    const uint64_t at = data->position();
    const int64_t got = data->ReadNext(piece.data(), piece.size());
    ASSERT_GT(got, 0);
    const auto count = static_cast<uint64_t>(got);
    const uint64_t hole_part = at >= hole ? 0 : std::min(count, hole - at);
    zeros = zeros && std::memcmp(piece.data(), zero_piece.data(), hole_part) == 0;
    end.insert(end.end(), piece.begin() + static_cast<ptrdiff_t>(hole_part), piece.begin() + got);
  }
  EXPECT_TRUE(zeros);
  EXPECT_EQ(end, tail);
}

}  // namespace
}  // namespace kestrel
