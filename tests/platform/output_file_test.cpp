// Recovered files are created exclusively, written through a buffer, and every failure,
// also of the final flush, is reported with its cause.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <numeric>

#include "platform/output_file.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

using testing::ReadFileBytes;
using testing::TempDir;
using testing::WriteFileBytes;

TEST(OutputFile, NeverTruncatesAnExistingFile) {
  TempDir dir;
  WriteFileBytes(dir / "KES00001.JPG", {1, 2, 3});
  OutputFile out;
  EXPECT_NE(out.Create(dir / "KES00001.JPG"), FileErrorCause::kNone);
  EXPECT_EQ(out.last_errno(), EEXIST);
  EXPECT_EQ(ReadFileBytes(dir / "KES00001.JPG"), (std::vector<uint8_t>{1, 2, 3}));
}

TEST(OutputFile, BufferedWritesKeepEveryByteInOrder) {
  TempDir dir;
  std::vector<uint8_t> data(3 * 1024 * 1024 + 77);
  std::iota(data.begin(), data.end(), uint8_t{0});
  OutputFile out;
  ASSERT_EQ(out.Create(dir / "f", true), FileErrorCause::kNone);
  // Pieces of mixed sizes: sector-sized, tiny, and larger than the buffer.
  size_t at = 0;
  for (size_t piece : {512u, 1u, 700000u, 512u, 1500000u}) {
    ASSERT_EQ(out.Write(data.data() + at, piece), FileErrorCause::kNone);
    at += piece;
  }
  ASSERT_EQ(out.Write(data.data() + at, data.size() - at), FileErrorCause::kNone);
  EXPECT_EQ(out.Length(), data.size());
  uint8_t back[4];
  ASSERT_TRUE(out.ReadBack(1000, back, 4));
  EXPECT_EQ(back[0], data[1000]);
  ASSERT_EQ(out.Truncate(2000000), FileErrorCause::kNone);
  ASSERT_EQ(out.Close(), FileErrorCause::kNone);
  data.resize(2000000);
  EXPECT_EQ(ReadFileBytes(dir / "f"), data);
}

TEST(OutputFile, ErrorCausesFollowErrno) {
  EXPECT_EQ(ClassifyErrno(ENOSPC), FileErrorCause::kDiskFull);
  EXPECT_EQ(ClassifyErrno(EDQUOT), FileErrorCause::kDiskFull);
  EXPECT_EQ(ClassifyErrno(ENOENT), FileErrorCause::kBadPath);
  EXPECT_EQ(ClassifyErrno(ENAMETOOLONG), FileErrorCause::kBadPath);
  EXPECT_EQ(ClassifyErrno(EIO), FileErrorCause::kOther);

  TempDir dir;
  OutputFile out;
  EXPECT_EQ(out.Create(dir / "missing/folder/f"), FileErrorCause::kBadPath);
}

TEST(OutputFile, AFailedFinalFlushIsAWriteError) {
  // A file size limit makes write() fail with EFBIG once the buffer is flushed.
  TempDir dir;
  struct rlimit old {};
  getrlimit(RLIMIT_FSIZE, &old);
  struct sigaction ignore {
  }, previous{};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGXFSZ, &ignore, &previous);
  struct rlimit small = old;
  small.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  OutputFile out;
  ASSERT_EQ(out.Create(dir / "f"), FileErrorCause::kNone);
  std::vector<uint8_t> data(10000, 7);
  FileErrorCause during = out.Write(data.data(), data.size());
  FileErrorCause closing = out.Close();
  setrlimit(RLIMIT_FSIZE, &old);
  sigaction(SIGXFSZ, &previous, nullptr);
  EXPECT_EQ(during, FileErrorCause::kNone) << "still in the buffer";
  EXPECT_EQ(closing, FileErrorCause::kOther);
}

}  // namespace
}  // namespace kestrel
