// The raw scan driver: refusals, end messages, every sector scanned, cancel, and the
// read-error protocol over a source whose sectors fail.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string_view>

#include "platform/testing/source_doubles.h"
#include "run/messages.h"
#include "sources/scan_source.h"
#include "support/scan_harness.h"
#include "support/structured_fixtures.h"

namespace kestrel {
namespace {

using testing::ScanImage;
using testing::ScanOptions;
using testing::TempDir;
using Bytes = std::vector<uint8_t>;

constexpr size_t kRawSector = 512;

// A GIF of `sectors` sectors, trailer at the end, laid at `sector` into `image`.
Bytes LayGif(Bytes& image, size_t sector, size_t sectors = 2) {
  const Bytes gif = testing::PaddedGif(sectors * kRawSector);
  std::copy(gif.begin(), gif.end(), image.begin() + static_cast<ptrdiff_t>(sector * kRawSector));
  return gif;
}

std::unique_ptr<FaultInjectingSource> Faulty(std::unique_ptr<ByteSource> inner) {
  return std::make_unique<FaultInjectingSource>(std::move(inner));
}

TEST(RawScan, EndsWithNothingFoundOnAnEmptySource) {
  TempDir dir;
  auto scan = ScanImage(Bytes(200 * kRawSector, 0), dir);
  EXPECT_EQ(scan->result.outcome, RunOutcome::kCompleted);
  EXPECT_EQ(scan->ui.MessageIds(), std::vector<int>{msg::kNothingFound});
  EXPECT_EQ(scan->ui.messages.back().icon, MessageIcon::kNone);
  EXPECT_TRUE(scan->files.empty());
}

// A scan cancelled after its first file keeps its checkpoint; the next scan of the source (as the
// window starts it) offers to go on with it: Yes ends in the same run folder with the files an
// uninterrupted scan writes, No starts a new scan beside them.
TEST(RawScan, OffersToGoOnWithAnUnfinishedScanOfTheSource) {
  TempDir dir;
  Bytes image(3000 * kRawSector, 0);
  const Bytes first = LayGif(image, 100), second = LayGif(image, 1500), third = LayGif(image, 2900);
  ScanOptions cancel_after_first;
  cancel_after_first.script = [](testing::FakeRunUi& ui) {
    ui.yes_no_answers = {MessageAnswer::kYes};  // "Do you really want to cancel?"
  };
  cancel_after_first.on_pump = [](RunContext& run, testing::FakeRunUi&) {
    if (run.recovered_count() == 1) run.RequestCancel();
  };
  auto cancelled = ScanImage(image, dir, cancel_after_first);
  ASSERT_EQ(cancelled->result.outcome, RunOutcome::kCancelled);
  ASSERT_TRUE(std::filesystem::exists(cancelled->run_folder + ".kestrel-scan.checkpoint"));

  ScanOptions go_on;
  go_on.offer_resume = true;
  go_on.script = [](testing::FakeRunUi& ui) { ui.yes_no_answers = {MessageAnswer::kYes}; };
  auto resumed = ScanImage(image, dir, go_on);
  ASSERT_EQ(resumed->ui.MessageIds(),
            (std::vector<int>{msg::kContinueUnfinishedScan, msg::kCompleted}));
  EXPECT_EQ(resumed->run_folder, cancelled->run_folder);
  ASSERT_EQ(resumed->files,
            (std::vector<std::string>{"KES00001.GIF", "KES00002.GIF", "KES00003.GIF"}));
  EXPECT_EQ(resumed->File("KES00001.GIF"), first);
  EXPECT_EQ(resumed->File("KES00002.GIF"), second);
  EXPECT_EQ(resumed->File("KES00003.GIF"), third);

  // Nothing unfinished now: no question, and a new scan numbers on after the files there.
  auto again = ScanImage(image, dir, go_on);
  EXPECT_EQ(again->ui.MessageIds(), std::vector<int>{msg::kCompleted});
  EXPECT_EQ(again->files.size(), 6u);
}

TEST(RawScan, ScansTheLastSectorsOfTheSource) {
  TempDir dir;
  Bytes image(1000 * kRawSector, 0);
  Bytes gif = LayGif(image, 997, 3);  // inside the last 64 sectors, up to the very end
  auto scan = ScanImage(image, dir, testing::OnlyTypes(TypeBit(kGif)));
  EXPECT_EQ(scan->ui.MessageIds(), std::vector<int>{msg::kCompleted});
  ASSERT_EQ(scan->files, std::vector<std::string>{"KES00001.GIF"});
  EXPECT_EQ(scan->File("KES00001.GIF"), gif);
  EXPECT_EQ(scan->result.recovered, 1u);
}

TEST(RawScan, ScansASourceSmallerThanOneChunkAndAPartialLastSector) {
  TempDir dir;
  Bytes image(10 * kRawSector, 0);
  Bytes gif = LayGif(image, 8);
  image.resize(image.size() - 100);  // the trailer is cut off: nothing complete
  auto cut = ScanImage(image, dir);
  EXPECT_TRUE(cut->files.empty());

  TempDir dir2;
  Bytes whole(10 * kRawSector + 300, 0);
  const Bytes small = testing::PaddedGif(60);
  std::copy(small.begin(), small.end(), whole.begin() + 10 * kRawSector);  // in the partial sector
  auto scan = ScanImage(whole, dir2);
  ASSERT_EQ(scan->files.size(), 1u);
  EXPECT_EQ(scan->File(scan->files[0]), small);
}

// A ZIP keeps every header from starting a file while it is open. One whose end never comes is
// not kept, and the files inside its sectors are looked for once more: the GIF comes back.
TEST(RawScan, FilesInsideAFileThatWasNotKeptAreFoundInASecondLook) {
  TempDir dir;
  Bytes image(400 * kRawSector, 0);
  const std::string_view local_header("PK\3\4\x14\0\0\0\0\0", 10);
  std::copy(local_header.begin(), local_header.end(), image.begin() + 10 * kRawSector);
  const Bytes gif = LayGif(image, 20);
  auto scan = ScanImage(image, dir);
  ASSERT_EQ(scan->files, std::vector<std::string>{"KES00001.GIF"});
  EXPECT_EQ(scan->File("KES00001.GIF"), gif);
  EXPECT_EQ(scan->result.recovered, 1u);

  // More such files inside it, each without an end: the second look keeps no header out, so
  // none of them hides the GIF again.
  for (size_t sector : {12, 14, 16}) {
    std::copy(local_header.begin(), local_header.end(),
              image.begin() + static_cast<ptrdiff_t>(sector * kRawSector));
  }
  TempDir nested_dir;
  auto nested = ScanImage(image, nested_dir);
  EXPECT_EQ(nested->files, std::vector<std::string>{"KES00001.GIF"});
}

TEST(RawScan, RefusesARunFolderThatCannotBeMade) {
  TempDir dir;
  testing::WriteFileBytes(dir / "recovered", {1});  // a file where the folder should be
  auto scan = ScanImage(Bytes(100 * kRawSector, 0), dir);
  EXPECT_EQ(scan->result.outcome, RunOutcome::kRefused);
  EXPECT_EQ(scan->ui.MessageIds(), std::vector<int>{msg::kCannotCreateFolder});
}

TEST(RawScan, WriteProbeNeverRemovesAnExistingFile) {
  TempDir dir;
  Bytes image(100 * kRawSector, 0);
  auto first = ScanImage(image, dir);
  ASSERT_FALSE(first->run_folder.empty());
  testing::WriteFileBytes(first->run_folder + "Temp.txt", {1, 2});
  auto second = ScanImage(image, dir);
  EXPECT_EQ(testing::ReadFileBytes(second->run_folder + "Temp.txt"), (Bytes{1, 2}));
}

TEST(RawScan, SecondRunContinuesTheNumbering) {
  TempDir dir;
  Bytes image(100 * kRawSector, 0);
  LayGif(image, 10);
  LayGif(image, 40);
  ScanImage(image, dir);
  auto second = ScanImage(image, dir);
  EXPECT_EQ(second->files, (std::vector<std::string>{"KES00001.GIF", "KES00002.GIF", "KES00003.GIF",
                                                     "KES00004.GIF"}));
  ASSERT_EQ(second->ui.rows.size(), 2u);
  EXPECT_EQ(second->ui.rows[0].name, "KES00003.GIF");
}

TEST(RawScan, CancelAnsweredNoGoesOnAndYesStopsWithoutEndMessage) {
  Bytes image(3000 * kRawSector, 0);
  LayGif(image, 2000);
  {
    TempDir dir;
    ScanOptions options;
    options.on_pump = [](RunContext& run, testing::FakeRunUi& ui) {
      if (ui.pumps == 3) run.RequestCancel();
    };
    options.script = [](testing::FakeRunUi& ui) { ui.yes_no_answers = {MessageAnswer::kNo}; };
    auto scan = ScanImage(image, dir, options);
    EXPECT_EQ(scan->result.outcome, RunOutcome::kCompleted);
    EXPECT_EQ(scan->ui.MessageIds(), (std::vector<int>{msg::kConfirmCancel, msg::kCompleted}));
  }
  {
    TempDir dir;
    ScanOptions options;
    options.on_pump = [](RunContext& run, testing::FakeRunUi& ui) {
      if (ui.pumps == 3) run.RequestCancel();
    };
    options.script = [](testing::FakeRunUi& ui) { ui.yes_no_answers = {MessageAnswer::kYes}; };
    auto scan = ScanImage(image, dir, options);
    EXPECT_EQ(scan->result.outcome, RunOutcome::kCancelled);
    EXPECT_EQ(scan->ui.MessageIds(), std::vector<int>{msg::kConfirmCancel});
    EXPECT_TRUE(scan->files.empty());
  }
}

TEST(RawScan, CancelDeletesTheIncompleteOpenFile) {
  TempDir dir;
  Bytes image(3000 * kRawSector, 0);
  Bytes gif = LayGif(image, 100, 2000);  // still open when Cancel comes
  ScanOptions options;
  options.on_pump = [](RunContext& run, testing::FakeRunUi& ui) {
    if (ui.pumps == 10) run.RequestCancel();
  };
  options.script = [](testing::FakeRunUi& ui) { ui.yes_no_answers = {MessageAnswer::kYes}; };
  auto scan = ScanImage(image, dir, options);
  EXPECT_EQ(scan->result.outcome, RunOutcome::kCancelled);
  EXPECT_TRUE(scan->files.empty());
}

struct ReadErrorCase {
  std::vector<ReadErrorChoice> answers;
  int expected_questions;
  RunOutcome expected_outcome;
};

class ReadErrors : public ::testing::Test {
 protected:
  // Sectors 130..131 and 1000..1001 fail (twice each when `times` is 2, else always).
  std::unique_ptr<testing::ScanRun> Scan(std::vector<ReadErrorChoice> answers, int times = -1) {
    image_.assign(3000 * kRawSector, 0);
    gif_ = LayGif(image_, 10);
    late_gif_ = LayGif(image_, 2500);
    // A picture inside the failing chunk: what is not read must never be made up.
    LayGif(image_, 1000);
    ScanOptions options;
    options.wrap_source =
        [times](std::unique_ptr<ByteSource> inner) -> std::unique_ptr<ByteSource> {
      auto faulty = Faulty(std::move(inner));
      faulty->FailSectors(130, 2, times);
      faulty->FailSectors(1000, 2, times);
      return faulty;
    };
    options.script = [answers](testing::FakeRunUi& ui) {
      ui.read_error_answers.assign(answers.begin(), answers.end());
    };
    return ScanImage(image_, dir_, options);
  }
  TempDir dir_;
  Bytes image_, gif_, late_gif_;
};

TEST_F(ReadErrors, AbortEndsTheRunWithoutEndMessage) {
  auto scan = Scan({ReadErrorChoice::kAbort});
  EXPECT_EQ(scan->result.outcome, RunOutcome::kAborted);
  EXPECT_EQ(scan->ui.read_error_questions, 1);
  EXPECT_TRUE(scan->ui.messages.empty());
  EXPECT_EQ(scan->files, std::vector<std::string>{"KES00001.GIF"}) << "finished files stay";
}

TEST_F(ReadErrors, IgnoreAsksAtEveryFailureAndGoesOnWithZeros) {
  auto scan = Scan({ReadErrorChoice::kIgnore, ReadErrorChoice::kIgnore});
  EXPECT_EQ(scan->result.outcome, RunOutcome::kCompleted);
  EXPECT_EQ(scan->ui.read_error_questions, 2);
  // The picture in the unreadable chunk is lost, the others are whole.
  ASSERT_EQ(scan->files, (std::vector<std::string>{"KES00001.GIF", "KES00002.GIF"}));
  EXPECT_EQ(scan->File("KES00002.GIF"), late_gif_);
}

TEST_F(ReadErrors, IgnoreAllAsksOncePerRun) {
  auto scan = Scan({ReadErrorChoice::kIgnoreAll});
  EXPECT_EQ(scan->ui.read_error_questions, 1);
  EXPECT_EQ(scan->files.size(), 2u);
  // A new run asks again.
  auto again = Scan({ReadErrorChoice::kIgnoreAll});
  EXPECT_EQ(again->ui.read_error_questions, 1);
}

TEST_F(ReadErrors, EscapeBeforeAnyChoiceGoesOnAsIgnore) {
  auto scan = Scan({ReadErrorChoice::kNone, ReadErrorChoice::kNone});
  EXPECT_EQ(scan->result.outcome, RunOutcome::kCompleted);
  EXPECT_EQ(scan->ui.read_error_questions, 2);
}

TEST_F(ReadErrors, RetryReadsTheChunkAgainUntilItReads) {
  // Each failing area fails twice: once for the block read, once for the chunk read; the
  // retry then reads it, so every picture comes back.
  auto scan = Scan({ReadErrorChoice::kRetry, ReadErrorChoice::kRetry}, 2);
  EXPECT_EQ(scan->ui.read_error_questions, 2);
  ASSERT_EQ(scan->files.size(), 3u);
  EXPECT_EQ(scan->File("KES00002.GIF").size(), gif_.size());
}

}  // namespace
}  // namespace kestrel
