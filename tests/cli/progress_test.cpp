// kestrel-cli's progress line: speed and time left, --quiet and --verbose, and the exit
// statuses its help documents.
#include <gtest/gtest.h>

#include "cli/terminal_run_ui.h"
#include "support/cli_runner.h"
#include "support/image_builder.h"

namespace kestrel {
namespace {

using testing::ImageBuilder;
using testing::RunCli;
using testing::TempDir;

TEST(ProgressText, RateTimeLeftAndSectorNumbers) {
  EXPECT_EQ(FormatRate(50'000'000, 2.0), "25 MB/s");
  EXPECT_EQ(FormatRate(3'000'000, 2.0), "1.5 MB/s");
  EXPECT_EQ(FormatRate(3'000'000, 0.1), "");  // too early to tell
  EXPECT_EQ(FormatTimeLeft(180), "3:00 left");
  EXPECT_EQ(FormatTimeLeft(3600), "1:00:00 left");
  EXPECT_EQ(FormatTimeLeft(0), "0:00 left");
  EXPECT_EQ(FormatTimeLeft(-1), "");
}

class ProgressCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ImageBuilder image;
    image.AddZeros(4);
    image.AddSample("picture.png");
    image.AddZeros(6000);
    image.WriteTo(dir_ / "card.img");
  }
  TempDir dir_;
};

TEST_F(ProgressCommandTest, VerboseDrawsProgressAndSummaryQuietDrawsNothing) {
  auto verbose =
      RunCli(dir_, "scan " + dir_ / "card.img" + " --out " + dir_ / "out" + " --verbose");
  ASSERT_EQ(verbose.status, 0) << verbose.err;
  EXPECT_NE(verbose.err.find('\r'), std::string::npos) << verbose.err;
  // The summary tells what the run read and found, after the run has cleared its fields.
  EXPECT_NE(verbose.err.find("kestrel-cli: 3 MB read in"), std::string::npos) << verbose.err;
  EXPECT_NE(verbose.err.find(", 1 files recovered"), std::string::npos) << verbose.err;
  EXPECT_EQ(verbose.OutLines().size(), 2u) << verbose.out;  // the file and the closing message

  auto quiet = RunCli(dir_, "scan " + dir_ / "card.img" + " --out " + dir_ / "out" + " -q");
  ASSERT_EQ(quiet.status, 0) << quiet.err;
  EXPECT_EQ(quiet.err.find('\r'), std::string::npos) << quiet.err;
  EXPECT_EQ(quiet.OutLines().size(), 2u) << quiet.out;
}

TEST_F(ProgressCommandTest, HelpDocumentsTheExitStatuses) {
  auto help = RunCli(dir_, "--help");
  ASSERT_EQ(help.status, 0);
  for (const char* line :
       {"Exit status:", "  0 ", "  1 ", "  2 ", "  130 ", "--quiet", "--verbose"}) {
    EXPECT_NE(help.out.find(line), std::string::npos) << line;
  }
}

}  // namespace
}  // namespace kestrel
