// The kernel's EIO (through FUSE) in the first and in the last chunk of a raw scan, with the
// reading thread ahead of the carving: the first chunk is asked about before anything is
// carved, the last one after everything before it; the files between come back exact, and an
// Abort at the end keeps them.
#include <gtest/gtest.h>

#include <filesystem>

#include "faults/fault_mounts.h"
#include "faults/planted_files.h"
#include "support/cli_runner.h"
#include "support/image_builder.h"

namespace kestrel {
namespace {

using testing::BadSectors;
using testing::EioImageMount;
using testing::TempDir;

TEST(EdgeReadErrorTest, FirstAndLastChunkFailButTheFilesBetweenComeBack) {
  TempDir dir;
  testing::ImageBuilder image;
  image.AddZeros(70);
  std::vector<std::vector<uint8_t>> originals;
  for (uint32_t i = 0; i < 3; ++i) {
    originals.push_back(testing::PlantedPng(150000 + 30000 * i, 20 + i));
    image.AddFile(originals.back());
    image.AddZeros(5);
  }
  image.AddZeros(100);
  image.WriteTo(dir / "card.img");
  // Sector 0 itself must read (an unreadable sector 0 refuses the source); sector 30 is in the
  // first chunk.
  const uint64_t last = image.sector_count() - 1;

  for (const char* answer : {"ignore", "abort"}) {
    SCOPED_TRACE(answer);
    std::string why;
    auto mount = EioImageMount::Start(dir / "card.img", dir / "fuse",
                                      {BadSectors{30, 1, 0}, BadSectors{last, 1, 0}}, &why);
    if (!mount) GTEST_SKIP() << why;
    auto result =
        testing::RunCli(dir, "scan " + mount->image_path() + " --types png --no-report --out " +
                                 dir / "out" + " --read-errors " + answer);
    // An Abort comes at the first failure: the first chunk, before any file was carved.
    const bool abort = std::string(answer) == "abort";
    EXPECT_EQ(result.status, abort ? 130 : 0) << result.err;
    const std::string day = testing::DayFolderBelow(dir / "out");
    if (abort) {
      EXPECT_TRUE(day.empty() || testing::RecoveredNames(day).empty());
    } else {
      EXPECT_EQ(testing::RecoveredNames(day),
                (std::vector<std::string>{"KES00001.PNG", "KES00002.PNG", "KES00003.PNG"}));
      EXPECT_TRUE(testing::FilesNotWhole(day, originals).empty());
    }
    EXPECT_TRUE(day.empty() || testing::PartialFiles(day).empty());
    std::filesystem::remove_all(dir / "out");
  }
}

}  // namespace
}  // namespace kestrel
