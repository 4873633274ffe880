// The read-ahead driver on bad input: a source that shrinks while it is read, unreadable first
// and last chunks, Cancel at every moment, and sources past 2 TiB. Each run ends cleanly: its
// reading thread is gone, and every file it listed is whole.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>

#include "platform/testing/source_doubles.h"
#include "support/fixture_samples.h"
#include "support/image_builder.h"
#include "support/scan_harness.h"

namespace kestrel {
namespace {

using testing::ScanImage;
using testing::ScanOptions;
using testing::TempDir;
using Bytes = std::vector<uint8_t>;

// Threads of this process (the reading thread of a finished run must be gone).
size_t ThreadCount() {
  size_t n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
    ++n;
  return n;
}

// A source whose bytes past `keep` vanish after `reads` reads, as an image truncated while it is
// read: its size stays what it was at the start, reads past the new end come back empty.
class ShrinkingSource : public ByteSource {
 public:
  ShrinkingSource(std::unique_ptr<ByteSource> inner, uint64_t keep, int reads)
      : inner_(std::move(inner)), keep_(keep), reads_left_(reads) {}
  int64_t ReadAt(uint64_t offset, void* buffer, size_t length) override {
    if (reads_left_ > 0) {
      --reads_left_;
      return inner_->ReadAt(offset, buffer, length);
    }
    if (offset >= keep_) return 0;
    return inner_->ReadAt(offset, buffer, std::min<uint64_t>(length, keep_ - offset));
  }
  uint64_t Size() const override { return inner_->Size(); }

 private:
  std::unique_ptr<ByteSource> inner_;
  uint64_t keep_;
  int reads_left_;
};

// Samples among random sectors, and what a complete scan makes of them.
struct Card {
  Bytes image;
  std::vector<testing::PlacedFile> placed;
  std::map<std::string, Bytes> complete;  // name -> bytes after an undisturbed scan
  // Samples that lie wholly inside [first, end).
  size_t SamplesWithin(uint64_t first, uint64_t end) const {
    return static_cast<size_t>(std::count_if(placed.begin(), placed.end(), [&](const auto& f) {
      return f.start_sector >= first && f.end_sector() <= end;
    }));
  }
};

const Card& SampleCard() {
  static const Card card = [] {
    Card c;
    testing::ImageBuilder image(3);
    uint64_t seed = 11;
    for (const testing::FixtureSample& sample : testing::FixtureSamples()) {
      image.AddSample(sample.file, testing::Filler::kRandomNoEndMarkers);
      image.AddRandom(3, seed++, testing::Filler::kRandomNoEndMarkers);
    }
    c.image = image.bytes();
    c.placed = image.files();
    TempDir dir;
    auto scan = ScanImage(c.image, dir);
    for (const std::string& name : scan->files) c.complete[name] = scan->File(name);
    return c;
  }();
  return card;
}

// Every listed file is in the run folder at its listed size and nothing else is left there.
// With `same_names`, each equals the undisturbed scan's file of that name; otherwise each but
// `damaged` of them equals one of the undisturbed scan's files.
void ExpectListedFilesWhole(const testing::ScanRun& scan, const Card& card, bool same_names,
                            size_t damaged = 0) {
  std::vector<std::string> listed;
  size_t unlike = 0;
  for (const ResultRow& row : scan.ui.rows) {
    listed.push_back(row.name);
    const Bytes bytes = scan.File(row.name);
    EXPECT_EQ(bytes.size(), row.bytes) << row.name;
    if (same_names) {
      auto it = card.complete.find(row.name);
      ASSERT_NE(it, card.complete.end()) << row.name;
      EXPECT_TRUE(bytes == it->second) << row.name << " is not whole";
    } else if (std::none_of(card.complete.begin(), card.complete.end(),
                            [&](const auto& entry) { return entry.second == bytes; })) {
      ++unlike;
    }
  }
  EXPECT_LE(unlike, damaged);
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, scan.files) << "only listed files are left";
}

TEST(ScanRobustness, CancelAtAnyChunkEndsCleanly) {
  const Card& card = SampleCard();
  ASSERT_GE(card.complete.size(), 10u);
  const size_t threads = ThreadCount();
  for (int at : {1, 2, 3, 5, 8, 13, 21, 34, 55}) {
    for (ReadAheadShape shape : {ReadAheadShape{2048, 4}, ReadAheadShape{64, 2}}) {
      SCOPED_TRACE(std::to_string(at) + "/" + std::to_string(shape.block_sectors));
      TempDir dir;
      ScanOptions options;
      options.read_ahead = shape;
      options.on_pump = [at](RunContext& run, testing::FakeRunUi& ui) {
        if (ui.pumps == at) run.RequestCancel();
      };
      options.script = [](testing::FakeRunUi& ui) { ui.yes_no_answers = {MessageAnswer::kYes}; };
      auto scan = ScanImage(card.image, dir, options);
      EXPECT_EQ(ThreadCount(), threads) << "the reading thread was joined";
      if (scan->result.outcome == RunOutcome::kCompleted) continue;  // past the last chunk
      EXPECT_EQ(scan->result.outcome, RunOutcome::kCancelled);
      ExpectListedFilesWhole(*scan, card, true);
    }
  }
}

TEST(ScanRobustness, ASourceThatShrinksWhileItIsReadEndsCleanly) {
  const Card& card = SampleCard();
  const size_t threads = ThreadCount();
  for (int reads : {0, 1, 3, 10}) {
    SCOPED_TRACE(reads);
    TempDir dir;
    ScanOptions options;
    options.read_ahead = {64, 3};
    const uint64_t keep = card.image.size() / 2;
    options.wrap_source = [keep, reads](std::unique_ptr<ByteSource> inner) {
      return std::unique_ptr<ByteSource>(
          std::make_unique<ShrinkingSource>(std::move(inner), keep, reads));
    };
    options.script = [](testing::FakeRunUi& ui) {
      ui.read_error_answers = {ReadErrorChoice::kIgnoreAll};
    };
    auto scan = ScanImage(card.image, dir, options);
    EXPECT_EQ(scan->result.outcome, RunOutcome::kCompleted);
    EXPECT_EQ(scan->ui.read_error_questions, 1) << "the vanished part is a failed read";
    EXPECT_EQ(ThreadCount(), threads);
    // The file that the cut runs through may be listed with zeros for what vanished.
    ExpectListedFilesWhole(*scan, card, false, 1);
    EXPECT_LT(scan->ui.rows.size(), card.complete.size());
    EXPECT_GE(scan->ui.rows.size(), card.SamplesWithin(0, keep / 512));
  }
}

// Unreadable first and last chunks: asked about in order (the first before anything is carved),
// and Abort at the last one keeps every file that ended before it.
TEST(ScanRobustness, ReadErrorsInTheFirstAndLastChunk) {
  const Card& card = SampleCard();
  const uint64_t last_sector = card.image.size() / 512 - 1;
  for (auto reading : {RawScanRequest::Reading::kReadAhead, RawScanRequest::Reading::kOneThread}) {
    for (ReadErrorChoice second : {ReadErrorChoice::kIgnore, ReadErrorChoice::kAbort}) {
      TempDir dir;
      ScanOptions options;
      options.reading = reading;
      options.wrap_source = [last_sector](std::unique_ptr<ByteSource> inner) {
        auto faulty = std::make_unique<FaultInjectingSource>(std::move(inner));
        faulty->FailSectors(0, 1);
        faulty->FailSectors(last_sector, 1);
        return std::unique_ptr<ByteSource>(std::move(faulty));
      };
      std::vector<std::string> asked_at;
      options.script = [second](testing::FakeRunUi& ui) {
        ui.read_error_answers = {ReadErrorChoice::kIgnore, second};
      };
      options.on_pump = [&asked_at](RunContext&, testing::FakeRunUi& ui) {
        asked_at.push_back(ui.current_sector + "/" + std::to_string(ui.read_error_questions));
      };
      auto scan = ScanImage(card.image, dir, options);
      EXPECT_EQ(scan->ui.read_error_questions, 2);
      ASSERT_FALSE(asked_at.empty());
      EXPECT_EQ(asked_at.front(), " 0/0") << "no question before the first chunk's turn";
      EXPECT_EQ(asked_at[1].back(), '1') << "the first chunk was asked about in its turn";
      EXPECT_EQ(scan->result.outcome,
                second == ReadErrorChoice::kAbort ? RunOutcome::kAborted : RunOutcome::kCompleted);
      // What lies in the first and the last chunk is lost (read as zeros); the rest is whole.
      const uint64_t last_chunk = last_sector / 64 * 64;
      ExpectListedFilesWhole(*scan, card, false, 2);
      EXPECT_GE(scan->ui.rows.size(), card.SamplesWithin(64, last_chunk));
    }
  }
}

// A sparse image of 3 TiB: the whole size is the total, percent and sector numbers are 64-bit.
TEST(ScanRobustness, ASourcePastTwoTebibytesIsMeasuredWhole) {
  TempDir dir;
  const std::string path = dir / "huge.img";
  const uint64_t size = uint64_t{3} << 40;
  {
    testing::WriteFileBytes(path, {});
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(size)), 0);
  }
  std::vector<RunProgress> seen;
  ScanOptions options;
  options.on_progress = [&seen](const RunProgress& p) { seen.push_back(p); };
  options.on_pump = [](RunContext& run, testing::FakeRunUi& ui) {
    if (ui.pumps == 40) run.RequestCancel();
  };
  options.script = [](testing::FakeRunUi& ui) { ui.yes_no_answers = {MessageAnswer::kYes}; };
  auto scan = testing::ScanImageFile(path, dir, options);
  EXPECT_EQ(scan->result.outcome, RunOutcome::kCancelled);
  // Cancel pressed during the 40th chunk's pump is asked at the 41st chunk's poll.
  ASSERT_EQ(seen.size(), 41u);
  EXPECT_EQ(seen.back().bytes_total, size);
  EXPECT_EQ(seen.back().bytes_done, 40u * 64 * 512);
  EXPECT_EQ(seen.back().sector, 40u * 64);

  // The arithmetic at positions a 32-bit sector number cannot hold.
  const uint64_t total = size / 512;  // 6,442,450,944 sectors
  EXPECT_EQ(ScanPercent(total / 3 * 2, total), 66);
  EXPECT_EQ(ScanPercent(total - 64, total), 99);
  EXPECT_EQ(ScanPercent(uint64_t{5} << 30, total), 83);
  EXPECT_EQ(ScanPercent(total, total), 100);
}

}  // namespace
}  // namespace kestrel
