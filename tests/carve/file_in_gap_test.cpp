// A file that goes on after another whole file lying in its gap, as files on a disk in use are
// laid out: the outer picture and the inner files come back whole; nothing is written when the
// outer picture's next piece is missing; on a FAT volume the outer one goes on at the cluster
// after the inner file, past the inner file's slack.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "support/jpeg_pictures.h"
#include "support/scan_harness.h"
#include "support/structured_fixtures.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::TempDir;

// `bytes` followed by zeros up to a multiple of `unit`.
Bytes Padded(Bytes bytes, size_t unit = 4096) {
  bytes.resize((bytes.size() + unit - 1) / unit * unit, 0);
  return bytes;
}

void Append(Bytes& image, const Bytes& bytes) {
  image.insert(image.end(), bytes.begin(), bytes.end());
}

Bytes Slice(const Bytes& bytes, size_t from, size_t to) {
  return Bytes(bytes.begin() + static_cast<ptrdiff_t>(from),
               bytes.begin() + static_cast<ptrdiff_t>(std::min(to, bytes.size())));
}

// The contents of the files a scan wrote, sorted.
std::vector<Bytes> Written(const testing::ScanRun& scan) {
  std::vector<Bytes> files;
  for (const std::string& name : scan.files) files.push_back(scan.File(name));
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<Bytes> Sorted(std::vector<Bytes> files) {
  std::sort(files.begin(), files.end());
  return files;
}

class FileInGap : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::HaveJpegTools()) {
      GTEST_SKIP() << "cjpeg (libjpeg-turbo-progs) or gm (graphicsmagick) is not installed";
    }
    outer_ = testing::CjpegPicture(dir_, "-quality 90");
    inner_ = testing::CjpegPicture(dir_, "-quality 75", 200, 150);
    ASSERT_GT(outer_.size(), 32u * 1024);
    ASSERT_GT(inner_.size(), 2u * 1024);
  }
  TempDir dir_;
  Bytes outer_;
  Bytes inner_;
};

TEST_F(FileInGap, APictureGoesOnAfterWholeFilesInItsGap) {
  const Bytes gif = testing::PaddedGif(3000);
  Bytes image(16 * 1024, 0);
  Append(image, Slice(outer_, 0, 8192));
  Append(image, Padded(inner_));
  Append(image, Padded(Slice(outer_, 8192, 20480)));
  Append(image, Padded(gif));  // two files in the second gap
  Append(image, Padded(inner_));
  Append(image, Padded(Slice(outer_, 20480, outer_.size())));
  image.resize(image.size() + 16 * 1024, 0);
  auto scan = testing::ScanImage(image, dir_);
  EXPECT_EQ(Written(*scan), Sorted({outer_, inner_, inner_, gif}));
}

// The piece after the inner file is another picture's middle: the outer picture does not
// decode and is not written, the inner one is.
TEST_F(FileInGap, NothingIsWrittenWhenTheNextPieceIsMissing) {
  const Bytes other = testing::CjpegPicture(dir_, "-quality 85", 600, 440);  // not the same picture
  Bytes image(16 * 1024, 0);
  Append(image, Slice(outer_, 0, 8192));
  Append(image, Padded(inner_));
  Append(image, Slice(other, 8192, other.size()));
  image.resize(image.size() + 64 * 1024, 0);
  auto scan = testing::ScanImage(image, dir_);
  EXPECT_EQ(Written(*scan), std::vector<Bytes>{inner_});
}

// On a FAT12 volume with 16 KiB clusters, a small inner file leaves 12 KiB of slack in its
// cluster: the outer picture goes on at the next cluster, not at the next 4 KiB.
TEST_F(FileInGap, OnAVolumeTheOuterFileGoesOnAtTheNextCluster) {
  if (!testing::HaveTool("mkfs.fat") || !testing::HaveTool("fsck.fat")) {
    GTEST_SKIP() << "mkfs.fat or fsck.fat (dosfstools) is not installed";
  }
  const std::string volume = dir_ / "fat.img";
  ASSERT_EQ(testing::RunCommand("truncate -s 32M " + volume + " && mkfs.fat -F 12 -s 32 " + volume +
                                " >/dev/null"),
            0);
  std::string report;
  testing::RunCommand("fsck.fat -v -n " + volume + " 2>/dev/null", &report);
  const size_t at = report.find("Data area starts at byte ");
  ASSERT_NE(at, std::string::npos) << report;
  const size_t data_start = std::stoul(report.substr(at + 25));
  Bytes image = testing::ReadFileBytes(volume);
  constexpr size_t kCluster = 16 * 1024;
  const Bytes small = testing::CjpegPicture(dir_, "-quality 50", 48, 32);
  ASSERT_LT(small.size(), 4u * 1024) << "the inner picture must leave slack past 4 KiB";
  std::mt19937 random(3);
  const auto put = [&image](size_t offset, const Bytes& bytes, bool noise_after) {
    std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<ptrdiff_t>(offset));
    if (!noise_after) return;
    // Slack that is not zeros: old bytes of an earlier file.
    std::fill(image.begin() + static_cast<ptrdiff_t>(offset + bytes.size()),
              image.begin() + static_cast<ptrdiff_t>((offset + bytes.size() + kCluster - 1) /
                                                     kCluster * kCluster),
              0x55);
  };
  const size_t first = data_start + 100 * kCluster;
  put(first, Slice(outer_, 0, kCluster), false);
  put(first + kCluster, small, true);
  put(first + 2 * kCluster, Slice(outer_, kCluster, outer_.size()), false);
  auto scan = testing::ScanImage(image, dir_);
  EXPECT_EQ(Written(*scan), Sorted({outer_, small}));
}

}  // namespace
}  // namespace kestrel
