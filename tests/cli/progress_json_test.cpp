// kestrel-cli scan --progress json and --free-space: the progress objects' figures (also past
// 2 TiB), the objects a run writes on stderr, and the options' usage errors.
#include <gtest/gtest.h>

#include "cli/progress_json.h"
#include "run/messages.h"
#include "support/cli_runner.h"
#include "support/image_builder.h"

namespace kestrel {
namespace {

using testing::RunCli;
using testing::TempDir;

constexpr uint64_t kTiB = uint64_t{1} << 40;

TEST(ProgressFigures, PercentRateAndTimeLeftPastTwoTebibytes) {
  // 2.5 TiB of 3 TiB in 500 s: 5.5 GB/s, 100 s left.
  const ProgressFigures f = FiguresOf(kTiB * 5 / 2, 3 * kTiB, 500);
  EXPECT_NEAR(f.percent, 83.333, 0.001);
  ASSERT_TRUE(f.mb_per_s && f.seconds_left);
  EXPECT_NEAR(*f.mb_per_s, 5497.558, 0.01);
  EXPECT_NEAR(*f.seconds_left, 100.0, 1e-6);

  const ProgressFigures start = FiguresOf(0, 3 * kTiB, 0.1);
  EXPECT_EQ(start.percent, 0);
  EXPECT_FALSE(start.mb_per_s) << "too early to tell";
  EXPECT_FALSE(start.seconds_left);
  EXPECT_EQ(FiguresOf(0, 0, 1).percent, 100) << "nothing to scan is done";

  RunProgress p{Activity::kScanning, kTiB * 5 / 2, 3 * kTiB, 5368709120, 7};
  EXPECT_EQ(ProgressJson(p, 500),
            "{\"bytes_done\": 2748779069440, \"bytes_total\": 3298534883328, \"percent\": 83.33, "
            "\"mb_per_s\": 5497.6, \"seconds_left\": 100, \"files_recovered\": 7}");
  EXPECT_NE(
      ProgressJson(RunProgress{Activity::kScanning, 0, kTiB, 0, 0}, 0.1).find("\"mb_per_s\": null"),
      std::string::npos);
}

TEST(ProgressJsonCommand, WritesTheFirstAndTheLastObjectOnStderr) {
  TempDir dir;
  testing::ImageBuilder image;
  image.AddZeros(4);
  image.AddSample("picture.png");
  image.AddZeros(300);
  image.WriteTo(dir / "card.img");
  auto run = RunCli(dir, "scan " + dir / "card.img" + " --out " + dir / "out" + " --progress json");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err.find('\r'), std::string::npos) << "no progress line besides";
  const std::string total = "\"bytes_total\": " + std::to_string(image.bytes().size());
  EXPECT_NE(run.err.find("{\"bytes_done\": 0, " + total), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("{\"bytes_done\": " + std::to_string(image.bytes().size()) + ", " + total +
                         ", \"percent\": 100.0"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("\"files_recovered\": 1}"), std::string::npos) << run.err;
  EXPECT_EQ(run.OutLines().size(), 2u) << "stdout is unchanged: " << run.out;
}

TEST(ProgressJsonCommand, UsageErrorsAndARefusedFreeSpaceScan) {
  TempDir dir;
  testing::WriteFileBytes(dir / "plain.img", std::vector<uint8_t>(200 * 512, 0));
  EXPECT_EQ(RunCli(dir, "scan " + dir / "plain.img" + " --progress xml").status, 2);
  EXPECT_EQ(RunCli(dir, "deleted " + dir / "plain.img" + " --free-space").status, 2);
  auto refused =
      RunCli(dir, "scan " + dir / "plain.img" + " --out " + dir / "out" + " --free-space");
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find(MessageText(msg::kFreeSpaceNeedsFileSystem)), std::string::npos)
      << refused.err;
}

}  // namespace
}  // namespace kestrel
