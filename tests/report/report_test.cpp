// The report of scan and deleted runs through kestrel-cli, on volumes made at test time: valid
// against the DFXML schema, every digest that of its file, and the source read at each file's
// byte runs gives the file back.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "run/run_context.h"
#include "support/cli_runner.h"
#include "support/fat_image.h"
#include "support/ntfs_image.h"
#include "support/report_check.h"
#include "support/scan_harness.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

using testing::CliResult;
using testing::ReadFileObject;
using testing::TempDir;

class ReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::HaveFatTools()) GTEST_SKIP() << "mkfs.fat or mtools is not installed";
    if (!testing::CanValidate()) GTEST_SKIP() << "xmllint or the DFXML schema is missing";
  }

  // Runs kestrel-cli and returns its run folder (ending with "/"), empty when there is none.
  std::string RunInto(const std::string& arguments, CliResult* result) {
    *result = testing::RunCli(dir_, arguments + " --out '" + dir_ / "out" + "'");
    const std::string day = testing::DayFolderBelow(dir_ / "out");
    return day.empty() ? day : day + "/";
  }

  // The report of `run_folder`, valid against the schema; its files checked against `source`.
  std::vector<ReadFileObject> CheckedReport(const std::string& run_folder,
                                            const std::string& source, size_t* written) {
    const std::string report = run_folder + "report.dfxml";
    std::string output;
    EXPECT_TRUE(testing::SchemaValid(report, &output)) << output;
    *written = testing::ExpectReportMatchesFiles(report, run_folder, source);
    return testing::ReadFileObjects(report);
  }

  TempDir dir_;
};

const ReadFileObject* Named(const std::vector<ReadFileObject>& objects, const std::string& name) {
  for (const ReadFileObject& object : objects) {
    if (object.name == name) return &object;
  }
  return nullptr;
}

// Every carved file of a volume holding the samples of many types (files cut at their end,
// files written anew from their pieces, files not whole kept apart) is reported with the
// digests of the bytes it ends with; the JSON lines say the same.
TEST_F(ReportTest, EveryFileOfAScanMatchesItsDigestsAndByteRuns) {
  const std::string samples = testing::SamplesDir();
  if (samples.empty()) GTEST_SKIP() << "no sample folder";
  std::string why;
  auto fat = testing::FatImage::Create(dir_ / "fat.img", 32, 65536, 1, &why);
  ASSERT_TRUE(fat) << why;
  size_t copied = 0;
  for (const auto& entry : std::filesystem::directory_iterator(samples + "/exiftool-t-images")) {
    if (!entry.is_regular_file() || entry.file_size() > (2 << 20)) continue;
    if (fat->WriteFile("/" + entry.path().filename().string(),
                       testing::ReadFileBytes(entry.path().string()))) {
      ++copied;
    }
  }
  ASSERT_GT(copied, 20u);
  CliResult result;
  const std::string run_folder =
      RunInto("scan '" + fat->path() + "' --types all --keep-partial --hash md5,sha1,sha256 " +
                  "--report-json '" + dir_ / "report.jsonl" + "'",
              &result);
  ASSERT_EQ(result.status, 0) << result.err;
  size_t written = 0;
  const std::vector<ReadFileObject> objects = CheckedReport(run_folder, fat->path(), &written);
  EXPECT_GT(written, 20u);
  for (const ReadFileObject& object : objects) EXPECT_EQ(object.digests.size(), 3u);

  std::ifstream lines(dir_ / "report.jsonl");
  size_t json_files = 0;
  for (std::string line; std::getline(lines, line);) {
    const nlohmann::json json = nlohmann::json::parse(line);
    if (!json.contains("fileobject")) continue;
    const nlohmann::json& file = json["fileobject"];
    const ReadFileObject* object = Named(objects, file["name"]);
    ASSERT_NE(object, nullptr) << line;
    EXPECT_EQ(file["hashdigest"]["sha256"], object->digests.at("sha256"));
    EXPECT_EQ(file["byte_runs"].size(), object->runs.size());
    ++json_files;
  }
  EXPECT_EQ(json_files, objects.size());
}

// A deleted-files run on FAT: a file whose clusters were split around a live file, and one
// whose clusters were taken, are reported with their original paths and times.
TEST_F(ReportTest, DeletedFilesOfFatCarryTheirPathsTimesAndRuns) {
  std::string why;
  auto fat = testing::FatImage::Create(dir_ / "fat.img", 16, 20480, 4, &why);
  ASSERT_TRUE(fat) << why;
  constexpr int64_t kModified = 1559399408;  // 2019-06-01 14:30:08 UTC
  ASSERT_TRUE(fat->MakeFolder("/DCIM"));
  ASSERT_TRUE(fat->WriteFile("/DCIM/A.JPG", testing::FatTestBytes(5000, 1), kModified));
  ASSERT_TRUE(fat->WriteFile("/B.TXT", testing::FatTestBytes(3000, 2)));
  ASSERT_TRUE(fat->WriteFile("/C.TXT", testing::FatTestBytes(3000, 3)));
  ASSERT_TRUE(fat->Delete("/B.TXT"));
  // The new file fills the clusters B.TXT left and goes on after C.TXT: a fragmented chain.
  ASSERT_TRUE(fat->WriteFile("/Rock & Roll.bin", testing::FatTestBytes(12000, 4)));
  ASSERT_TRUE(fat->Delete("/Rock & Roll.bin"));
  ASSERT_TRUE(fat->Delete("/DCIM/A.JPG"));
  CliResult result;
  const std::string run_folder =
      RunInto("deleted '" + fat->path() + "' --types all --hash sha1", &result);
  ASSERT_EQ(result.status, 0) << result.err;
  size_t written = 0;
  const std::vector<ReadFileObject> objects = CheckedReport(run_folder, fat->path(), &written);
  EXPECT_EQ(written, 3u);  // B.TXT too: its clusters are free again
  const ReadFileObject* photo = Named(objects, "KES_.JPG");
  ASSERT_NE(photo, nullptr);
  EXPECT_EQ(photo->original_path.rfind("/DCIM/", 0), 0u) << photo->original_path;
  EXPECT_EQ(photo->mtime, "2019-06-01T14:30:08Z");
  EXPECT_EQ(photo->size, 5000u);
  EXPECT_EQ(photo->digests.count("sha1"), 1u);
  const ReadFileObject* fragmented = Named(objects, "Rock & Roll.bin");
  ASSERT_NE(fragmented, nullptr);
  EXPECT_EQ(fragmented->original_path, "/Rock & Roll.bin");
  EXPECT_EQ(fragmented->size, 12000u);
}

// A deleted-files run on NTFS: two files written alternately lie in several runs each, and a
// sparse file's hole is a sparse run.
TEST_F(ReportTest, DeletedFilesOfNtfsGiveEveryRun) {
  std::string why;
  auto ntfs = testing::NtfsImage::Create(KESTREL_NTFS_TOOL_PATH, dir_ / "ntfs.img", 16, &why);
  if (!ntfs) GTEST_SKIP() << "no NTFS test volume: " << why;
  const bool written = ntfs->WriteInterleaved("/a.bin", testing::PatternBytes(40000, 1), "/b.bin",
                                              testing::PatternBytes(40000, 2), 8192) &&
                       ntfs->WriteSparse("/sparse.bin", testing::PatternBytes(9000, 3), 65536) &&
                       ntfs->Delete("/a.bin") && ntfs->Delete("/b.bin") &&
                       ntfs->Delete("/sparse.bin");
  if (!written) GTEST_SKIP() << "the NTFS helper could not write and delete the files";
  CliResult result;
  const std::string run_folder = RunInto("deleted '" + ntfs->path() + "' --types all", &result);
  ASSERT_EQ(result.status, 0) << result.err;
  size_t files = 0;
  const std::vector<ReadFileObject> objects = CheckedReport(run_folder, ntfs->path(), &files);
  EXPECT_EQ(files, 3u);
  const ReadFileObject* a = Named(objects, "a.bin");
  const ReadFileObject* sparse = Named(objects, "sparse.bin");
  ASSERT_TRUE(a != nullptr && sparse != nullptr);
  EXPECT_GT(a->runs.size(), 1u);
  EXPECT_EQ(a->original_path, "/a.bin");
  ASSERT_FALSE(sparse->runs.empty());
  EXPECT_TRUE(sparse->runs.front().sparse);
}

TEST_F(ReportTest, NoReportWritesNoneAndBadDigestsAreRefused) {
  std::string why;
  auto fat = testing::FatImage::Create(dir_ / "fat.img", 16, 20480, 4, &why);
  ASSERT_TRUE(fat) << why;
  ASSERT_TRUE(fat->WriteFile("/A.TXT", testing::FatTestBytes(5000, 1)));
  ASSERT_TRUE(fat->Delete("/A.TXT"));
  CliResult result;
  const std::string run_folder =
      RunInto("deleted '" + fat->path() + "' --types all --no-report", &result);
  ASSERT_EQ(result.status, 0) << result.err;
  ASSERT_FALSE(run_folder.empty());
  for (const auto& entry : std::filesystem::directory_iterator(run_folder)) {
    EXPECT_EQ(entry.path().filename().string().find("report"), std::string::npos) << entry.path();
  }
  EXPECT_EQ(RunInto("scan '" + fat->path() + "' --hash sha512", &result), run_folder);
  EXPECT_EQ(result.status, 2);
  RunInto("scan '" + fat->path() + "' --no-report --hash md5", &result);
  EXPECT_EQ(result.status, 2);
}

// A scan cancelled half way leaves a finished, valid report of the files it kept.
TEST_F(ReportTest, ACancelledScanLeavesAValidReportOfWhatItKept) {
  std::vector<uint8_t> image;
  const std::vector<uint8_t> photo = testing::ReadFileBytes(
      testing::SamplesDir().empty() ? "" : testing::SamplesDir() + "/exiftool-t-images/Canon.jpg");
  if (photo.empty()) GTEST_SKIP() << "no sample folder";
  for (int i = 0; i < 200; ++i) {
    image.insert(image.end(), photo.begin(), photo.end());
    image.resize((image.size() + 65535) / 65536 * 65536, 0);
  }
  testing::ScanOptions options;
  options.report = true;
  options.reading = RawScanRequest::Reading::kOneThread;
  int pumps = 0;
  options.on_pump = [&pumps](RunContext& run, testing::FakeRunUi& ui) {
    if (++pumps == 40) {
      run.RequestCancel();
      ui.yes_no_answers = {MessageAnswer::kYes};
    }
  };
  auto scan = testing::ScanImage(image, dir_, options);
  ASSERT_EQ(scan->result.outcome, RunOutcome::kCancelled);
  std::vector<std::string> recovered;
  for (const std::string& name : scan->files) {
    if (name != "report.dfxml") recovered.push_back(name);
  }
  ASSERT_FALSE(recovered.empty());
  EXPECT_LT(recovered.size(), 200u);
  size_t written = 0;
  const std::vector<ReadFileObject> objects =
      CheckedReport(scan->run_folder, dir_ / "source.img", &written);
  EXPECT_EQ(written, recovered.size());
  EXPECT_EQ(objects.size(), recovered.size());
}

}  // namespace
}  // namespace kestrel
