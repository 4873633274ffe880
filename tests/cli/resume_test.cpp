// kestrel-cli scan --resume: a scan killed with SIGKILL at random moments and resumed each time
// ends with the files, under the names, and the report entries of a scan never interrupted, and
// leaves no checkpoint and no unfinished file; a checkpoint that is damaged, from a newer version
// or of another source is refused with its message and nothing is written.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <string>

#include "run/messages.h"
#include "support/cli_runner.h"
#include "support/image_builder.h"
#include "support/report_check.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using testing::ImageBuilder;
using testing::RunCli;
using testing::TempDir;
using Files = std::map<std::string, std::vector<uint8_t>>;

constexpr const char* kCheckpoint = ".kestrel-scan.checkpoint";
// A checkpoint at every chance, so that every kill has one to go on from.
constexpr const char* kEveryChance = "KESTREL_CHECKPOINT_SECONDS=0";

constexpr const char* kReport = "report.dfxml";

// A report's entries in their order, each as one line of what it says of the file.
std::vector<std::string> ReportEntries(const std::string& report) {
  std::vector<std::string> entries;
  for (const testing::ReadFileObject& file : testing::ReadFileObjects(report)) {
    std::string entry = file.state + " " + file.name + " " + std::to_string(file.size);
    for (const testing::ReadRun& run : file.runs) {
      entry += " " + std::to_string(run.img_offset) + "+" + std::to_string(run.length);
    }
    for (const auto& [type, hex] : file.digests) entry += " " + type + "=" + hex;
    entries.push_back(entry);
  }
  return entries;
}

// The run's files: the report, which holds the run's times, is compared by its entries.
Files RunFilesBelow(const std::string& folder) {
  Files files = testing::FilesBelow(folder);
  files.erase(kReport);
  return files;
}

class ResumeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Pictures, documents and sounds between megabytes of random sectors: a scan long enough to
    // be killed in the middle, with files open across chunk ends.
    ImageBuilder image;
    const char* samples[] = {"exif.jpg", "picture.png", "document.pdf", "tone.wav",
                             "clip.avi", "picture.gif", "tone.mp3",     "jfif.jpg"};
    for (int round = 0; round < 6; ++round) {
      for (const char* sample : samples) {
        image.AddSample(sample, testing::Filler::kRandom);
        image.AddRandom(1024, static_cast<uint64_t>(round * 16 + 1));
      }
    }
    image.WriteTo(dir_ / "disk.img");
  }

  std::string Scan(const std::string& out, const std::string& more = "") {
    return "scan '" + dir_ / "disk.img" + "' --out '" + out + "' --types all -q " + more;
  }

  TempDir dir_;
};

TEST_F(ResumeTest, ScanKilledAtRandomMomentsEndsWithTheFilesNamesAndReportOfAnUninterruptedOne) {
  const std::string whole = dir_ / "whole", resumed = dir_ / "resumed";
  const auto began = std::chrono::steady_clock::now();
  ASSERT_EQ(RunCli(dir_, Scan(whole)).status, 0);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - began;
  const std::string whole_day = testing::DayFolderBelow(whole);
  const Files expected = RunFilesBelow(whole_day);
  ASSERT_GT(expected.size(), 20u);
  const std::vector<std::string> expected_entries = ReportEntries(whole_day + "/" + kReport);

  // Killed at moments inside an uninterrupted run's time; a scan whose run folder holds a
  // checkpoint goes on, any other starts anew (one that completed included).
  std::mt19937 random(7);
  std::uniform_real_distribution<double> moment(0.1 * took.count(), 0.9 * took.count());
  bool unfinished = false;
  int kills = 0;
  for (int round = 0; round < 11; ++round) {
    if (!unfinished) fs::remove_all(resumed);
    const testing::CliResult run = testing::RunCliKilledAfter(
        dir_, Scan(resumed, unfinished ? "--resume" : ""), moment(random), kEveryChance);
    if (run.status == 137) ++kills;  // killed, as `timeout -s KILL` reports it
    const std::string day = testing::DayFolderBelow(resumed);
    unfinished = !day.empty() && fs::exists(fs::path(day) / kCheckpoint);
  }
  EXPECT_GT(kills, 3) << "the scan ended before most kills";
  if (unfinished) {
    ASSERT_EQ(RunCli(dir_, Scan(resumed, "--resume")).status, 0);
  }
  const std::string day = testing::DayFolderBelow(resumed);
  const Files got = RunFilesBelow(day);
  for (const auto& [name, bytes] : got) EXPECT_TRUE(expected.contains(name)) << name << " is more";
  for (const auto& [name, bytes] : expected) {
    const auto found = got.find(name);
    ASSERT_NE(found, got.end()) << name << " is missing";
    EXPECT_EQ(found->second, bytes) << name;
  }
  EXPECT_FALSE(fs::exists(fs::path(day) / kCheckpoint));

  // One report, valid, with every entry of the uninterrupted run's in its order, and true to the
  // files and the source.
  const std::string report = day + "/" + kReport;
  EXPECT_EQ(ReportEntries(report), expected_entries);
  EXPECT_EQ(testing::ExpectReportMatchesFiles(report, day + "/", dir_ / "disk.img"),
            expected.size());
  if (testing::CanValidate()) {
    std::string output;
    EXPECT_TRUE(testing::SchemaValid(report, &output)) << output;
  }
}

TEST_F(ResumeTest, UnusableCheckpointsAndOtherSourcesAreRefusedWithTheirMessage) {
  const std::string out = dir_ / "out";
  // Nothing to go on with.
  testing::CliResult run = RunCli(dir_, Scan(out, "--resume"));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("There is no unfinished scan to continue"), std::string::npos) << run.err;

  // A scan stopped at its start leaves its checkpoint; each kind of damage is refused.
  const std::string day = out + "/unfinished";
  fs::create_directories(day);
  const auto write = [&](const std::string& text) {
    testing::WriteFileBytes(day + "/" + kCheckpoint,
                            std::vector<uint8_t>(text.begin(), text.end()));
  };
  for (const std::string& text :
       {std::string("garbage\n"), std::string("kestrel-scan-checkpoint 1\nbytes 12\n"),
        std::string("kestrel-scan-checkpoint 99\nend\n")}) {
    write(text);
    run = RunCli(dir_, Scan(out, "--resume '" + day + "'"));
    EXPECT_EQ(run.status, 1) << text;
    EXPECT_NE(run.err.find("cannot be continued: its checkpoint is damaged"), std::string::npos)
        << run.err;
  }
  // A whole checkpoint of another source (another size and fingerprint).
  write("kestrel-scan-checkpoint 1\nbytes 4096\nfingerprint 1\nnext-sector 0\nend\n");
  run = RunCli(dir_, Scan(out, "--resume '" + day + "'"));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("was of another source"), std::string::npos) << run.err;
  // Nothing was written beside the checkpoint.
  EXPECT_EQ(RunFilesBelow(day).size(), 1u);
}

}  // namespace
}  // namespace kestrel
