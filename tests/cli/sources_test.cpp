#include <gtest/gtest.h>

#include <fstream>

#include "cli/source_argument.h"
#include "support/cli_runner.h"
#include "support/disk_images.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

using testing::CliResult;
using testing::TempDir;

// Runs kestrel-cli without the machine's block devices, with `map` as the device map.
class SourcesCommandTest : public ::testing::Test {
 protected:
  CliResult Run(const std::string& arguments, const std::string& map_text) {
    std::ofstream(dir_ / "devices.conf", std::ios::trunc) << map_text;
    return testing::RunCli(dir_, arguments);
  }

  TempDir dir_;
};

TEST_F(SourcesCommandTest, PrintsTheRowsOfTheSourceListAndJsonObjects) {
  for (const char* tool : {"mkfs.fat", "sfdisk"}) {
    if (!testing::HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
  }
  ASSERT_TRUE(testing::MakeFatVolume(dir_ / "vol.img", 40, "-F 32 -n CAMERA"));
  ASSERT_TRUE(testing::MakeFatVolume(dir_ / "blank.img", 8, ""));
  ASSERT_TRUE(testing::MakeTwoPartitionDisk(dir_ / "sd.img", ""));
  CliResult result =
      Run("sources", "F: vol.img removable\nR: blank.img removable\nL: blank.img\ndisk sd.img\n");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out,
            " PARTONE (C:)\n"
            " Local Disk (D:)\n"
            " CAMERA (F:)\n"
            " Local Disk (L:)\n"
            " Removable Disk (R:)\n"
            "Physical Drives\n"
            " sd.img\n");

  // JSON: one object per volume and disk.
  result = Run("sources --json", "F: vol.img removable\ndisk sd.img\nbad line here\n");
  EXPECT_EQ(result.status, 0);
  // The bad line is reported on stderr with its number; the output is unaffected.
  EXPECT_NE(result.err.find("devices.conf:3: "), std::string::npos) << result.err;
  std::vector<std::string> lines = result.OutLines();
  ASSERT_EQ(lines.size(), 4u) << result.out;
  std::string disk = dir_ / "sd.img";
  EXPECT_EQ(lines[0],
            "{\"kind\": \"volume\", \"letter\": \"C\", \"label\": \"PARTONE\", \"fs\": \"FAT16\", "
            "\"bytes\": 16777216, \"device\": \"" +
                disk + "\", \"removable\": false}");
  EXPECT_EQ(lines[1],
            "{\"kind\": \"volume\", \"letter\": \"D\", \"label\": \"\", \"fs\": \"FAT12\", "
            "\"bytes\": 4194304, \"device\": \"" +
                disk + "\", \"removable\": false}");
  EXPECT_EQ(lines[2],
            "{\"kind\": \"volume\", \"letter\": \"F\", \"label\": \"CAMERA\", \"fs\": \"FAT32\", "
            "\"bytes\": 41943040, \"device\": \"" +
                dir_ / "vol.img" + "\", \"removable\": true}");
  EXPECT_EQ(lines[3],
            "{\"kind\": \"disk\", \"ordinal\": 0, \"model\": \"sd.img\", \"sectors\": 131072, "
            "\"letters\": \"CD\", \"device\": \"" +
                disk + "\"}");
}

TEST_F(SourcesCommandTest, ADiskNamedWithTerminalEscapesIsPrintedEscaped) {
  if (!testing::HaveTool("sfdisk")) GTEST_SKIP() << "sfdisk is not installed";
  const std::string name = "sd\x1b]0;PWNED\x07\u202e.img";  // shown as the disk's model
  ASSERT_TRUE(testing::MakeTwoPartitionDisk(dir_ / name, ""));
  CliResult result = Run("sources", "disk " + name + "\n");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_NE(result.out.find(" sd\\u001b]0;PWNED\\u0007\\u202e.img\n"), std::string::npos)
      << result.out;
  EXPECT_EQ(result.out.find('\x1b'), std::string::npos);
}

TEST_F(SourcesCommandTest, NoSourceAtAllEndsWithMessage108) {
  CliResult result = Run("sources", "# nothing attached\n");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "No device connected in the system.\n");

  result = Run("sources", "F: missing.img\n");
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("devices.conf:1: cannot open"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("No device connected in the system."), std::string::npos);

  // A disk without volumes is still a source.
  std::ofstream(dir_ / "zeros.img") << std::string(4096, '\0');
  result = Run("sources", "disk zeros.img\n");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "Physical Drives\n zeros.img\n");
}

TEST_F(SourcesCommandTest, TypesPrintsTheCatalogue) {
  CliResult result = Run("types", "");
  EXPECT_EQ(result.status, 0);
  std::vector<std::string> lines = result.OutLines();
  ASSERT_EQ(lines.size(), 37u);
  EXPECT_EQ(lines[0], "0\tAIF\tAudio Interchange file format");
  EXPECT_EQ(lines[7], "7\tDOC/DOCX\tMicrosoft Word Document file format");
  EXPECT_EQ(lines[8], "8\tGIF\tCompuServe Graphics Interchange format file ");
  EXPECT_EQ(lines[35], "35\tXLS/XLSX\tMicrosoft Excel WorkSheet file format");
  EXPECT_EQ(lines[36], "36\tZIP\tWinZip file format");
}

TEST(SourceArgumentTest, LettersDisksAndPaths) {
  TempDir dir;
  std::ofstream(dir / "image.bin") << "x";
  DeviceMap map;
  map.volumes.emplace_back().letter = 'E';
  map.disks.emplace_back().ordinal = 0;
  using Kind = SourceArgument::Kind;
  for (const char* text : {"E:", "e:", "E", "e:/", "E:\\"}) {
    SourceArgument source = ResolveSourceArgument(text, map);
    EXPECT_EQ(source.kind, Kind::kVolume) << text;
    EXPECT_EQ(source.volume, &map.volumes[0]) << text;
  }
  SourceArgument disk = ResolveSourceArgument("disk0", map);
  EXPECT_EQ(disk.kind, Kind::kDisk);
  EXPECT_EQ(disk.disk, &map.disks[0]);
  SourceArgument path = ResolveSourceArgument(dir / "image.bin", map);
  EXPECT_EQ(path.kind, Kind::kPath);
  EXPECT_EQ(path.path, dir / "image.bin");

  for (const std::string& text : {std::string("F:"), std::string("disk1"), dir.path(),
                                  dir / "missing.img", std::string("E:x")}) {
    SourceArgument bad = ResolveSourceArgument(text, map);
    EXPECT_EQ(bad.kind, Kind::kInvalid) << text;
    EXPECT_FALSE(bad.error.empty()) << text;
  }
  EXPECT_NE(ResolveSourceArgument("F:", map).error.find("no volume F:"), std::string::npos);
  EXPECT_NE(ResolveSourceArgument("disk1", map).error.find("no disk 1"), std::string::npos);
}

}  // namespace
}  // namespace kestrel
