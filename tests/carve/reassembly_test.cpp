// Files found in fragments in order, with foreign units between them, as on a disk in use: a
// ZIP archive put back together by its central directory's offsets and its members' CRC-32s, an
// MPEG program stream by its pack chain and clock. Each comes back exactly, its later pieces are
// not written again as files of their own, and nothing is written when a piece is missing.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "support/media_files.h"
#include "support/scan_harness.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::TempDir;
constexpr size_t kUnit = 4096;

Bytes RandomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes bytes(n);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

Bytes TextBytes(size_t n) {
  const std::string line = "Minutes of the meeting, item 4: the budget stays as it is.\n";
  Bytes bytes;
  while (bytes.size() < n) bytes.insert(bytes.end(), line.begin(), line.end());
  bytes.resize(n);
  return bytes;
}

// An image holding `file` cut at the unit boundaries `cuts`, the gaps `gaps` between its pieces
// (each a whole number of units), with zeros before and after.
Bytes Fragmented(const Bytes& file, const std::vector<size_t>& cuts,
                 const std::vector<Bytes>& gaps) {
  Bytes image(4 * kUnit, 0);
  size_t from = 0;
  for (size_t i = 0; i <= cuts.size(); ++i) {
    const size_t to = i < cuts.size() ? cuts[i] : file.size();
    image.insert(image.end(), file.begin() + static_cast<ptrdiff_t>(from),
                 file.begin() + static_cast<ptrdiff_t>(to));
    if (i < gaps.size()) image.insert(image.end(), gaps[i].begin(), gaps[i].end());
    from = to;
  }
  image.resize((image.size() + kUnit - 1) / kUnit * kUnit + 4 * kUnit, 0);
  return image;
}

// Three members of base64 text, deflated, about 23 KiB each: a cut every 16 KiB falls inside
// some member's data.
Bytes ArchiveOfThreeMembers() {
  return testing::MakeWithTool(
      "for f in a b c; do head -c 30000 /dev/urandom | base64 > $f.txt; done && "
      "zip -q out.zip a.txt b.txt c.txt && mv out.zip out");
}

TEST(ZipReassembly, ArchiveInThreePiecesComesBackWhole) {
  if (!testing::HaveTool("zip")) GTEST_SKIP() << "zip is not installed";
  const Bytes zip = ArchiveOfThreeMembers();
  ASSERT_GT(zip.size(), 5 * kUnit * 3);
  TempDir dir;
  const auto scan = testing::ScanImage(
      Fragmented(zip, {4 * kUnit, 10 * kUnit}, {RandomBytes(2 * kUnit, 1), TextBytes(kUnit)}), dir);
  ASSERT_EQ(scan->files.size(), 1u);
  EXPECT_EQ(scan->File(scan->files[0]), zip);
}

TEST(ZipReassembly, ArchiveWithAPieceOverwrittenIsNotWritten) {
  if (!testing::HaveTool("zip")) GTEST_SKIP() << "zip is not installed";
  Bytes zip = ArchiveOfThreeMembers();
  ASSERT_GT(zip.size(), 12 * kUnit);
  // The second piece is lost: another file's unit lies where it was.
  const Bytes other = RandomBytes(kUnit, 2);
  std::copy(other.begin(), other.end(), zip.begin() + 6 * kUnit);
  TempDir dir;
  const auto scan =
      testing::ScanImage(Fragmented(zip, {4 * kUnit}, {RandomBytes(2 * kUnit, 3)}), dir);
  EXPECT_TRUE(scan->files.empty());
}

TEST(ZipReassembly, GapsThatAreNoWholeUnitsAreNotCutOut) {
  if (!testing::HaveTool("zip")) GTEST_SKIP() << "zip is not installed";
  const Bytes zip = ArchiveOfThreeMembers();
  TempDir dir;
  // 1000 foreign bytes put in: no unit boundary explains them.
  const auto scan = testing::ScanImage(Fragmented(zip, {4 * kUnit}, {RandomBytes(1000, 4)}), dir);
  EXPECT_TRUE(scan->files.empty());
}

bool PackStartsAt(const Bytes& stream, size_t at) {
  return stream.size() > at + 4 && stream[at] == 0 && stream[at + 1] == 0 && stream[at + 2] == 1 &&
         stream[at + 3] == 0xBA;
}

// The first of ffmpeg's program streams without an end code that has packs at the cuts.
const testing::MediaFile* LongStream() {
  for (const testing::MediaFile& stream : testing::FfmpegProgramStreams()) {
    if (stream.bytes.size() > 10 * kUnit && stream.bytes.back() != 0xB9 &&
        PackStartsAt(stream.bytes, 4 * kUnit) && PackStartsAt(stream.bytes, 8 * kUnit)) {
      return &stream;
    }
  }
  return nullptr;
}

TEST(MpegReassembly, StreamInThreePiecesComesBackWholeAndOnce) {
  const testing::MediaFile* stream = LongStream();
  if (stream == nullptr) GTEST_SKIP() << "ffmpeg wrote no stream with packs at the cuts";
  TempDir dir;
  const auto scan =
      testing::ScanImage(Fragmented(stream->bytes, {4 * kUnit, 8 * kUnit},
                                    {RandomBytes(3 * kUnit, 5), TextBytes(2 * kUnit)}),
                         dir);
  ASSERT_EQ(scan->files.size(), 1u) << stream->name;
  EXPECT_EQ(scan->File(scan->files[0]), stream->bytes) << stream->name;
}

TEST(MpegReassembly, AnotherStreamAfterAGapIsNoContinuation) {
  const std::vector<testing::MediaFile>& streams = testing::FfmpegProgramStreams();
  if (streams.size() < 2) GTEST_SKIP() << "ffmpeg is not installed";
  // The head of one stream, a gap, then another stream whole: the other's clock starts again,
  // so the head does not go on in it, and the other comes back as it is.
  const Bytes& head = streams[0].bytes;
  const Bytes& other = streams[1].bytes;
  ASSERT_GT(head.size(), 2 * kUnit);
  Bytes image(4 * kUnit, 0);
  image.insert(image.end(), head.begin(), head.begin() + 2 * kUnit);
  const Bytes gap = RandomBytes(kUnit, 6);
  image.insert(image.end(), gap.begin(), gap.end());
  image.insert(image.end(), other.begin(), other.end());
  image.resize((image.size() + kUnit - 1) / kUnit * kUnit + 4 * kUnit, 0);
  TempDir dir;
  const auto scan = testing::ScanImage(image, dir);
  std::vector<Bytes> written;
  for (const std::string& name : scan->files) written.push_back(scan->File(name));
  EXPECT_NE(std::find(written.begin(), written.end(), other), written.end());
  for (const Bytes& file : written) EXPECT_LE(file.size(), std::max(other.size(), 2 * kUnit));
}

}  // namespace
}  // namespace kestrel
