// Recovered files are created exclusively, written through a buffer under a partial name and
// named only when complete; every failure, also of the final flush, is reported with its cause.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <numeric>

#include "platform/output_file.h"
#include "platform/partial_files.h"
#include "support/file_size_limit.h"
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

// Holes between and after the written bytes read back as zeros, give the file its whole length
// and take no room.
TEST(OutputFile, HolesReadAsZerosAndTakeNoRoom) {
  TempDir dir;
  const std::vector<uint8_t> head = {1, 2, 3};
  const std::vector<uint8_t> middle = {4, 5};
  constexpr uint64_t kHole = 64 << 20;
  OutputFile out;
  ASSERT_EQ(out.Create(dir / "sparse", true), FileErrorCause::kNone);
  ASSERT_EQ(out.Write(head.data(), head.size()), FileErrorCause::kNone);
  ASSERT_EQ(out.AppendHole(kHole), FileErrorCause::kNone);
  ASSERT_EQ(out.Write(middle.data(), middle.size()), FileErrorCause::kNone);
  ASSERT_EQ(out.AppendHole(kHole), FileErrorCause::kNone);  // a hole at the end
  EXPECT_EQ(out.Length(), head.size() + middle.size() + 2 * kHole);
  uint8_t back[2] = {9, 9};
  ASSERT_TRUE(out.ReadBack(head.size() + kHole, back, 2));
  EXPECT_EQ(back[1], 5);
  ASSERT_TRUE(out.ReadBack(out.Length() - 2, back, 2));
  EXPECT_EQ(back[0] | back[1], 0);
  ASSERT_EQ(out.Close(), FileErrorCause::kNone);
  struct stat st {};
  ASSERT_EQ(::stat((dir / "sparse").c_str(), &st), 0);
  EXPECT_EQ(static_cast<uint64_t>(st.st_size), head.size() + middle.size() + 2 * kHole);
  EXPECT_LT(st.st_blocks * 512, 1 << 20) << "the holes were written";
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
  FileErrorCause during, closing;
  {
    testing::FileSizeLimit limit(4096);
    ASSERT_TRUE(limit.applied());
    OutputFile out;
    ASSERT_EQ(out.Create(dir / "f"), FileErrorCause::kNone);
    std::vector<uint8_t> data(10000, 7);
    during = out.Write(data.data(), data.size());
    closing = out.Close();
  }
  EXPECT_EQ(during, FileErrorCause::kNone) << "still in the buffer";
  EXPECT_EQ(closing, FileErrorCause::kOther);
  EXPECT_TRUE(testing::ListFiles(dir.path()).empty()) << "the damaged file is deleted";
}

TEST(OutputFile, IsNamedOnlyWhenClosed) {
  TempDir dir;
  OutputFile out;
  ASSERT_EQ(out.Create(dir / "KES00001.JPG"), FileErrorCause::kNone);
  EXPECT_EQ(out.path(), dir / "KES00001.JPG");
  EXPECT_EQ(out.partial_path(), dir / ".KES00001.JPG.part");
  std::vector<uint8_t> data(300000, 9);
  ASSERT_EQ(out.Write(data.data(), data.size()), FileErrorCause::kNone);
  EXPECT_EQ(testing::ListFiles(dir.path()), std::vector<std::string>{".KES00001.JPG.part"});
  ASSERT_EQ(out.Close(), FileErrorCause::kNone);
  EXPECT_EQ(testing::ListFiles(dir.path()), std::vector<std::string>{"KES00001.JPG"});
  EXPECT_EQ(ReadFileBytes(dir / "KES00001.JPG"), data);
}

TEST(OutputFile, DiscardedOrAbandonedFilesLeaveNothing) {
  TempDir dir;
  {
    OutputFile discarded;
    ASSERT_EQ(discarded.Create(dir / "a.jpg"), FileErrorCause::kNone);
    discarded.Write("x", 1);
    discarded.Discard();
    OutputFile abandoned;
    ASSERT_EQ(abandoned.Create(dir / "b.jpg"), FileErrorCause::kNone);
    abandoned.Write("x", 1);
  }
  EXPECT_TRUE(testing::ListFiles(dir.path()).empty());
}

TEST(OutputFile, ALiveRunsPartialFileReservesItsName) {
  TempDir dir;
  OutputFile live;
  ASSERT_EQ(live.Create(dir / "KES00002.PNG"), FileErrorCause::kNone);
  OutputFile second;
  EXPECT_NE(second.Create(dir / "KES00002.PNG"), FileErrorCause::kNone);
  EXPECT_EQ(second.last_errno(), EEXIST);
  EXPECT_EQ(RemoveStalePartialFiles(dir.path()), 0u) << "locked by a live writer";
  EXPECT_EQ(live.Close(), FileErrorCause::kNone);
}

TEST(OutputFile, OnlyStalePartialFilesOfThisProgramAreRemoved) {
  TempDir dir;
  // A writer killed in the middle of a file.
  const pid_t child = fork();
  if (child == 0) {
    OutputFile out;
    if (out.Create(dir / "KES00003.JPG") == FileErrorCause::kNone) out.Write("abc", 3);
    out.Flush();
    raise(SIGKILL);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  ASSERT_EQ(testing::ListFiles(dir.path()), std::vector<std::string>{".KES00003.JPG.part"});
  // Named like a partial file but without the marker: another program's file.
  WriteFileBytes(dir / ".notes.txt.part", {1});
  WriteFileBytes(dir / "KES00001.JPG", {2});
  EXPECT_EQ(RemoveStalePartialFiles(dir.path()), 1u);
  EXPECT_EQ(testing::ListFiles(dir.path()),
            (std::vector<std::string>{".notes.txt.part", "KES00001.JPG"}));
  OutputFile again;
  EXPECT_EQ(again.Create(dir / "KES00003.JPG"), FileErrorCause::kNone) << "the name is free again";
}

}  // namespace
}  // namespace kestrel
