// The progress operations a run uses: percent stepping, cancel questions, the stored
// read-error answer and the texts of the results list.
#include <gtest/gtest.h>

#include "run/messages.h"
#include "run/run_context.h"
#include "support/fake_run_ui.h"

namespace kestrel {
namespace {

using testing::FakeRunUi;

TEST(ProgressOperations, SectorNumbersAreGroupedInThrees) {
  EXPECT_EQ(FormatSectorNumber(0), " 0");
  EXPECT_EQ(FormatSectorNumber(999), " 999");
  EXPECT_EQ(FormatSectorNumber(1000), " 1,000");
  EXPECT_EQ(FormatSectorNumber(1234567), " 1,234,567");
  // Sector numbers beyond 32 bits (disks above 2 TiB) print whole.
  EXPECT_EQ(FormatSectorNumber(8589934592ULL), " 8,589,934,592");
}

TEST(ProgressOperations, BarStepsOncePerChangeAndLagsBehindJumps) {
  FakeRunUi ui;
  RunContext run(ui);
  run.ResetProgressBar();
  run.ShowPercent(0);
  EXPECT_EQ(ui.bar_steps, 0);
  run.ShowPercent(5);  // a jump of five is one step
  run.ShowPercent(5);  // no change, no step
  run.ShowPercent(6);
  EXPECT_EQ(ui.bar_steps, 2);
  EXPECT_EQ(ui.percent, "6 %");
  run.ShowPercent(100);
  EXPECT_EQ(ui.bar_position, 100u);
}

TEST(ProgressOperations, CancelAnsweredNoClearsTheRequestAndYesStops) {
  FakeRunUi ui;
  RunContext run(ui);
  EXPECT_FALSE(run.PollCancel());
  EXPECT_TRUE(ui.messages.empty()) << "no question without a request";

  run.RequestCancel();
  for (int i = 0; i < 7; ++i) run.CountRecovered();
  ui.yes_no_answers = {MessageAnswer::kNo};
  EXPECT_FALSE(run.PollCancel());
  EXPECT_FALSE(run.cancel_requested());
  EXPECT_EQ(run.recovered_count(), 7u);
  ASSERT_EQ(ui.MessageIds(), std::vector<int>{msg::kConfirmCancel});
  EXPECT_EQ(ui.messages[0].icon, MessageIcon::kQuestion);

  run.RequestCancel();
  ui.yes_no_answers = {MessageAnswer::kYes};
  EXPECT_TRUE(run.PollCancel());
}

TEST(ProgressOperations, ReadErrorAnswersPersistForTheRun) {
  FakeRunUi ui;
  RunContext run(ui);
  // Escape before any choice: no choice, which the scan treats as Ignore.
  ui.read_error_answers = {ReadErrorChoice::kNone, ReadErrorChoice::kRetry, ReadErrorChoice::kNone,
                           ReadErrorChoice::kIgnoreAll};
  EXPECT_EQ(run.AskReadError(), ReadErrorChoice::kNone);
  EXPECT_EQ(run.AskReadError(), ReadErrorChoice::kRetry);
  // Escape keeps the earlier choice.
  EXPECT_EQ(run.AskReadError(), ReadErrorChoice::kRetry);
  EXPECT_EQ(run.AskReadError(), ReadErrorChoice::kIgnoreAll);
  EXPECT_EQ(ui.read_error_questions, 4);
  // Ignore All answers every later question of the run without asking.
  EXPECT_EQ(run.AskReadError(), ReadErrorChoice::kIgnoreAll);
  EXPECT_EQ(ui.read_error_questions, 4);
  // A new run asks again.
  run.BeginRun();
  EXPECT_FALSE(run.ignore_all_read_errors());
  run.AskReadError();
  EXPECT_EQ(ui.read_error_questions, 5);
}

TEST(ProgressOperations, ResultRowsShowNameSizeAndFolder) {
  EXPECT_EQ(FormatSizeKb(0), "0 KB");
  EXPECT_EQ(FormatSizeKb(1), "1 KB");
  EXPECT_EQ(FormatSizeKb(1024), "1 KB");
  EXPECT_EQ(FormatSizeKb(1025), "2 KB");
  EXPECT_EQ(FormatSizeKb(5ULL << 30), "5242880 KB") << "sizes beyond 4 GiB";

  FakeRunUi ui;
  RunContext run(ui);
  run.SetRunFolder("/r/12082026/");
  run.AddRecoveredFile({"  /r/12082026/KES00001.JPG ", 2000, true, std::nullopt});
  run.AddRecoveredFile({"/r/12082026/bad.txt", 10, false, std::nullopt});
  run.AddRecoveredFile({"   ", 10, true, std::nullopt});
  ASSERT_EQ(ui.rows.size(), 2u);
  EXPECT_EQ(ui.rows[0].name, "KES00001.JPG");
  EXPECT_EQ(ui.rows[0].size_text, "2 KB");
  EXPECT_EQ(ui.rows[0].folder_text, "/r/12082026/");
  EXPECT_EQ(ui.rows[1].folder_text, MessageText(msg::kInvalidRecoveryPath));
}

TEST(Messages, FormattedTextsAreExactAndUnknownIdsEmpty) {
  EXPECT_EQ(FormatMessage(msg::kDiskFull, "/r/x/"),
            "Not enough free space available to save the recover files in /r/x/");
  EXPECT_TRUE(MessageText(42).empty());
}

}  // namespace
}  // namespace kestrel
