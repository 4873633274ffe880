// Partial files in a recovery folder on a file system without user extended attributes (ramfs
// here; FAT and exFAT alike): the name is the mark, and a killed writer's file is cleared away.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "faults/fault_mounts.h"
#include "platform/output_file.h"
#include "platform/partial_files.h"

namespace kestrel {
namespace {

using testing::TempDir;

TEST(NoExtendedAttributesTest, PartialFilesAreClearedByTheirName) {
  TempDir dir;
  std::string why;
  auto mount = testing::MemoryMount::Start(dir / "ram", "ramfs", "mode=0755", &why);
  if (!mount) GTEST_SKIP() << why;
  const std::string folder = dir / "ram";

  OutputFile whole;
  ASSERT_EQ(whole.Create(folder + "/KES00001.JPG"), FileErrorCause::kNone);
  ASSERT_EQ(whole.Write("whole", 5), FileErrorCause::kNone);
  EXPECT_EQ(testing::ListFiles(folder), std::vector<std::string>{".KES00001.JPG.part"});
  ASSERT_EQ(whole.Close(), FileErrorCause::kNone);

  const pid_t child = fork();
  if (child == 0) {
    OutputFile cut;
    if (cut.Create(folder + "/KES00002.JPG") == FileErrorCause::kNone) cut.Write("cut", 3);
    cut.Flush();
    raise(SIGKILL);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  OutputFile live;
  ASSERT_EQ(live.Create(folder + "/KES00003.JPG"), FileErrorCause::kNone);
  EXPECT_EQ(RemoveStalePartialFiles(folder), 1u) << "the killed writer's, not the live one";
  EXPECT_EQ(testing::ListFiles(folder),
            (std::vector<std::string>{".KES00003.JPG.part", "KES00001.JPG"}));
  live.Discard();
  EXPECT_EQ(testing::ReadFileBytes(folder + "/KES00001.JPG"),
            (std::vector<uint8_t>{'w', 'h', 'o', 'l', 'e'}));
}

}  // namespace
}  // namespace kestrel
