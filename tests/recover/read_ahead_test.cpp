// The read-ahead driver against the one-thread driver on the same images: the same files under
// the same names, listed in the same order with the same bytes, the same sectors and percentages
// shown at every chunk, and the same read-error questions. Small rings and blocks put many block
// boundaries inside files, where the window around a sector comes from two reads.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <random>

#include "platform/testing/source_doubles.h"
#include "support/fixture_samples.h"
#include "support/image_builder.h"
#include "support/scan_harness.h"
#include "support/structured_fixtures.h"

namespace kestrel {
namespace {

using testing::ScanImage;
using testing::ScanOptions;
using testing::TempDir;
using Bytes = std::vector<uint8_t>;
using Reading = RawScanRequest::Reading;

// What a run showed and left behind.
struct Trace {
  RunOutcome outcome = RunOutcome::kRefused;
  std::vector<std::string> rows;                           // listed names, in order
  std::map<std::string, Bytes> files;                      // run folder content
  std::vector<std::pair<std::string, std::string>> shown;  // sector and percent at every pump
  int questions = 0;
  std::vector<int> messages;
};

Trace ScanFileWith(const std::string& image_path, Reading reading, ReadAheadShape shape,
                   ScanOptions options = {}) {
  TempDir dir;
  options.reading = reading;
  options.read_ahead = shape;
  auto shown = std::make_shared<std::vector<std::pair<std::string, std::string>>>();
  auto inner = options.on_pump;
  options.on_pump = [shown, inner](RunContext& run, testing::FakeRunUi& ui) {
    shown->emplace_back(ui.current_sector, ui.percent);
    if (inner) inner(run, ui);
  };
  auto scan = testing::ScanImageFile(image_path, dir, options);
  Trace trace;
  trace.outcome = scan->result.outcome;
  for (const ResultRow& row : scan->ui.rows) trace.rows.push_back(row.name);
  for (const std::string& name : scan->files) trace.files[name] = scan->File(name);
  trace.shown = *shown;
  trace.questions = scan->ui.read_error_questions;
  trace.messages = scan->ui.MessageIds();
  return trace;
}

Trace ScanWith(const Bytes& image, Reading reading, ReadAheadShape shape,
               ScanOptions options = {}) {
  TempDir dir;
  testing::WriteFileBytes(dir / "source.img", image);
  return ScanFileWith(dir / "source.img", reading, shape, std::move(options));
}

void ExpectSame(const Trace& one, const Trace& ahead) {
  EXPECT_EQ(one.outcome, ahead.outcome);
  EXPECT_EQ(one.rows, ahead.rows);
  EXPECT_EQ(one.messages, ahead.messages);
  EXPECT_EQ(one.questions, ahead.questions);
  ASSERT_EQ(one.shown.size(), ahead.shown.size());
  EXPECT_TRUE(one.shown == ahead.shown);
  ASSERT_EQ(one.files.size(), ahead.files.size());
  for (const auto& [name, bytes] : one.files) {
    auto it = ahead.files.find(name);
    ASSERT_NE(it, ahead.files.end()) << name;
    EXPECT_TRUE(it->second == bytes) << name << " differs";
  }
}

// Every committed sample twice, between random sectors (whose ends carry no end markers) and
// zero runs, so that files start and end at many offsets from the block boundaries.
Bytes DenseSamples() {
  testing::ImageBuilder image(7);
  uint64_t seed = 1;
  for (int round = 0; round < 2; ++round) {
    for (const testing::FixtureSample& sample : testing::FixtureSamples()) {
      image.AddSample(sample.file, testing::Filler::kRandomNoEndMarkers);
      image.AddRandom(seed % 5, seed, testing::Filler::kRandomNoEndMarkers);
      image.AddZeros(seed % 3 == 0 ? 70 : 1);
      ++seed;
    }
  }
  return image.bytes();
}

// Random bytes of every value: headers turn up by chance and open junk files.
Bytes RandomBytes(size_t sectors, uint64_t seed) {
  std::mt19937_64 random(seed);
  Bytes bytes(sectors * 512);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

const ReadAheadShape kShapes[] = {{2048, 4}, {64, 2}, {192, 3, 1}};

TEST(ReadAheadDriver, RecoversWhatTheOneThreadDriverRecovers) {
  const Bytes dense = DenseSamples();
  const Trace one = ScanWith(dense, Reading::kOneThread, {});
  ASSERT_GE(one.rows.size(), testing::FixtureSamples().size()) << "the image yields its samples";
  for (const ReadAheadShape& shape : kShapes) {
    SCOPED_TRACE(shape.block_sectors);
    ExpectSame(one, ScanWith(dense, Reading::kReadAhead, shape));
  }
}

TEST(ReadAheadDriver, RandomBytesGiveTheSameJunk) {
  Bytes random = RandomBytes(12000, 99);
  // A last partial sector: its missing bytes read as zeros in both drivers.
  random.resize(random.size() - 200);
  const Trace one = ScanWith(random, Reading::kOneThread, {});
  for (const ReadAheadShape& shape : kShapes) {
    SCOPED_TRACE(shape.block_sectors);
    ExpectSame(one, ScanWith(random, Reading::kReadAhead, shape));
  }
}

// A GIF whose last two bytes (its data's terminator and the trailer) lie on both sides of a block
// boundary: the walk goes on into the next block's first sector.
TEST(ReadAheadDriver, AnEndMarkerAcrossABlockBoundaryIsSeen) {
  Bytes image(400 * 512, 0);
  const size_t start = 100 * 512, boundary = 128 * 512;
  std::fill(image.begin() + start, image.begin() + boundary + 700, 0x07);
  const Bytes gif = testing::PaddedGif(boundary + 1 - start);
  std::copy(gif.begin(), gif.end(), image.begin() + start);
  ASSERT_EQ(image[boundary - 1], 0x00);
  ASSERT_EQ(image[boundary], 0x3B);
  const Trace one = ScanWith(image, Reading::kOneThread, {});
  ASSERT_EQ(one.rows, std::vector<std::string>{"KES00001.GIF"});
  EXPECT_EQ(one.files.at("KES00001.GIF").size(), boundary + 1 - start);
  for (const ReadAheadShape& shape : kShapes) {
    SCOPED_TRACE(shape.block_sectors);
    ExpectSame(one, ScanWith(image, Reading::kReadAhead, shape));
  }
}

// Unreadable sectors: the question comes at the same chunk, before anything after it is carved,
// and Retry reads that chunk again.
TEST(ReadAheadDriver, ReadErrorsAreAskedInTheirTurn) {
  const Bytes dense = DenseSamples();
  for (int times : {-1, 2}) {
    SCOPED_TRACE(times);
    ScanOptions options;
    options.wrap_source = [times](std::unique_ptr<ByteSource> inner) {
      auto faulty = std::make_unique<FaultInjectingSource>(std::move(inner));
      faulty->FailSectors(700, 2, times);
      faulty->FailSectors(1500, 1, times);
      return std::unique_ptr<ByteSource>(std::move(faulty));
    };
    const ReadErrorChoice answer = times < 0 ? ReadErrorChoice::kIgnore : ReadErrorChoice::kRetry;
    options.script = [answer](testing::FakeRunUi& ui) {
      ui.read_error_answers = {answer, answer, answer};
    };
    const Trace one = ScanWith(dense, Reading::kOneThread, {}, options);
    EXPECT_EQ(one.questions, 2);
    ExpectSame(one, ScanWith(dense, Reading::kReadAhead, {}, options));
  }
}

// Abort at the first question: nothing after the failed chunk was carved, so the files listed are
// those that ended before it.
TEST(ReadAheadDriver, AbortStopsBeforeTheFailedChunkIsCarved) {
  const Bytes dense = DenseSamples();
  ScanOptions options;
  options.wrap_source = [](std::unique_ptr<ByteSource> inner) {
    auto faulty = std::make_unique<FaultInjectingSource>(std::move(inner));
    faulty->FailSectors(900, 1);
    return std::unique_ptr<ByteSource>(std::move(faulty));
  };
  options.script = [](testing::FakeRunUi& ui) {
    ui.read_error_answers = {ReadErrorChoice::kAbort};
  };
  const Trace one = ScanWith(dense, Reading::kOneThread, {}, options);
  EXPECT_EQ(one.outcome, RunOutcome::kAborted);
  EXPECT_EQ(one.shown.back().first, " 896");
  for (const ReadAheadShape& shape : kShapes)
    ExpectSame(one, ScanWith(dense, Reading::kReadAhead, shape, options));
}

// Writes `image` leaving a hole wherever 4 KiB of it are zeros; false when the file system
// keeps no holes.
bool WriteSparse(const std::string& path, const Bytes& image) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  constexpr size_t kBlock = 4096;
  bool written = ::ftruncate(fd, static_cast<off_t>(image.size())) == 0;
  for (size_t at = 0; at < image.size() && written; at += kBlock) {
    const size_t n = std::min(kBlock, image.size() - at);
    if (std::all_of(image.begin() + at, image.begin() + at + n, [](uint8_t b) { return b == 0; }))
      continue;
    written = ::pwrite(fd, image.data() + at, n, static_cast<off_t>(at)) == ssize_t(n);
  }
  const bool holes = written && ::lseek(fd, 0, SEEK_HOLE) < static_cast<off_t>(image.size());
  ::close(fd);
  return holes;
}

// A sparse image: its holes are not read, yet a file open across one (an AIFF of 1.5 MiB whose
// sound is mostly silence) and the files after long holes come out as from the whole image.
TEST(ReadAheadDriver, HolesOfASparseImageAreTheirZeros) {
  testing::ImageBuilder builder(3);
  builder.AddZeros(600);
  Bytes aiff(1536 * 1024, 0);
  // FORM, a COMM chunk (mono, 16-bit, no sample frames stated) and a sound data chunk that
  // fills the rest.
  const Bytes form = {'F',  'O',  'R',  'M',  0x00, 0x17, 0xFF, 0xF8, 'A',  'I',  'F',  'F',
                      'C',  'O',  'M',  'M',  0x00, 0x00, 0x00, 0x12, 0x00, 0x01, 0x00, 0x00,
                      0x00, 0x00, 0x00, 0x10, 0x40, 0x0B, 0xFA, 0x00, 0x00, 0x00, 0x00, 0x00,
                      0x00, 0x00, 'S',  'S',  'N',  'D',  0x00, 0x17, 0xFF, 0xD2};
  std::copy(form.begin(), form.end(), aiff.begin());
  std::fill(aiff.begin() + 512, aiff.begin() + 9000, 0x11);
  std::fill(aiff.end() - 3000, aiff.end(), 0x22);
  builder.AddFile(aiff);
  for (const testing::FixtureSample& sample : testing::FixtureSamples()) {
    builder.AddZeros(300);
    builder.AddSample(sample.file, testing::Filler::kRandomNoEndMarkers);
  }
  builder.AddZeros(700);
  TempDir dir;
  if (!WriteSparse(dir / "sparse.img", builder.bytes()))
    GTEST_SKIP() << "no holes on this file system";
  const Trace whole = ScanWith(builder.bytes(), Reading::kOneThread, {});
  ASSERT_EQ(whole.files.count("KES00001.AIF"), 1u);
  EXPECT_TRUE(whole.files.at("KES00001.AIF") == aiff);
  ExpectSame(whole, ScanFileWith(dir / "sparse.img", Reading::kOneThread, {}));
  for (const ReadAheadShape& shape : kShapes) {
    SCOPED_TRACE(shape.block_sectors);
    ExpectSame(whole, ScanFileWith(dir / "sparse.img", Reading::kReadAhead, shape));
  }
}

}  // namespace
}  // namespace kestrel
