// Names a crafted volume can hold, through kestrel-cli deleted: control characters, C1 controls
// and bidirectional overrides on NTFS, names of dots and spaces on FAT. Every file is listed and
// written under a name that hides nothing; no line on the terminal carries a raw control; the
// JSON output keeps each name exactly as the volume gives it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <utility>

#include "support/cli_runner.h"
#include "support/fat_image.h"
#include "support/ntfs_image.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

using testing::CliResult;
using testing::FatTestBytes;
using testing::TempDir;

// A deleted file: its name on the volume, the name it must come back under, its bytes.
struct HostileFile {
  std::string name;
  std::string written;
  std::vector<uint8_t> bytes;
};

// Whether `text` holds a byte a terminal acts on (C0 but the row's tabs and line ends, DEL) or
// the UTF-8 of a C1 control or a bidirectional override.
bool HoldsRawControl(const std::string& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const auto b = static_cast<uint8_t>(text[i]);
    if ((b < 0x20 && b != '\t' && b != '\n') || b == 0x7F) return true;
    const auto next = i + 1 < text.size() ? static_cast<uint8_t>(text[i + 1]) : 0;
    if (b == 0xC2 && next >= 0x80 && next <= 0x9F) return true;
    if (text.compare(i, 3, "\u202E") == 0 || text.compare(i, 3, "\u2066") == 0) return true;
  }
  return false;
}

// The files directly in `folder` by name, with their bytes.
std::map<std::string, std::vector<uint8_t>> FilesIn(const std::string& folder) {
  std::map<std::string, std::vector<uint8_t>> files;
  for (const std::string& name : testing::ListFiles(folder)) {
    files[name] = testing::ReadFileBytes(folder + "/" + name);
  }
  return files;
}

// The "original_name" of every JSON line of `lines`, by its "path".
std::map<std::string, std::string> OriginalNames(const std::vector<std::string>& lines) {
  std::map<std::string, std::string> names;
  for (const std::string& line : lines) {
    const nlohmann::json object = nlohmann::json::parse(line);
    names[object.at("path").get<std::string>()] = object.at("original_name").get<std::string>();
  }
  return names;
}

class HostileNamesTest : public ::testing::Test {
 protected:
  CliResult Run(const std::string& image, const std::string& options) {
    return testing::RunCli(dir_, "deleted '" + image + "' --types all --no-report " + options);
  }

  TempDir dir_;
};

TEST_F(HostileNamesTest, NtfsControlsAndOverridesNeverReachTheTerminalOrTheFileNames) {
  std::string why;
  auto ntfs = testing::NtfsImage::Create(KESTREL_NTFS_TOOL_PATH, dir_ / "ntfs.img", 16, &why);
  if (!ntfs) GTEST_SKIP() << "no NTFS test volume: " << why;
  const std::vector<HostileFile> files = {
      {"\x1b]0;PWNED\x07\x1b[31mred.txt", "_]0;PWNED__[31mred.txt", FatTestBytes(900, 1)},
      {"two\nlines\tand a tab.txt", "two_lines_and a tab.txt", FatTestBytes(1200, 2)},
      {"\u202Egnp.exe", "_gnp.exe", FatTestBytes(700, 3)},
      {"csi\u009B31m \u2066x\u2069.txt", "csi_31m _x_.txt", FatTestBytes(500, 4)},
  };
  // All written before any is deleted: a deleted file's record would be taken by the next one.
  const std::vector<uint8_t> inside = FatTestBytes(300, 5);
  const std::vector<uint8_t> in_dots = FatTestBytes(400, 6);  // in a folder named "..."
  bool written = ntfs->MakeFolder("/dir\x1b[2J") && ntfs->WriteFile("/dir\x1b[2J/in.txt", inside) &&
                 ntfs->MakeFolder("/...") && ntfs->WriteFile("/.../in.txt", in_dots);
  for (const HostileFile& file : files)
    written = written && ntfs->WriteFile("/" + file.name, file.bytes);
  for (const HostileFile& file : files) written = written && ntfs->Delete("/" + file.name);
  written = written && ntfs->Delete("/dir\x1b[2J/in.txt") && ntfs->Delete("/.../in.txt");
  if (!written) GTEST_SKIP() << "the NTFS helper could not write and delete the files";

  CliResult listing = Run(ntfs->path(), "--list");
  ASSERT_EQ(listing.status, 0) << listing.err;
  EXPECT_FALSE(HoldsRawControl(listing.out + listing.err)) << listing.out;
  std::vector<std::string> rows = listing.OutLines();
  std::sort(rows.begin(), rows.end());
  std::vector<std::string> expected_rows = {"/dir_[2J/in.txt\t300\tintact",
                                            "/___/in.txt\t400\tintact"};
  for (const HostileFile& file : files) {
    expected_rows.push_back("/" + file.written + "\t" + std::to_string(file.bytes.size()) +
                            "\tintact");
  }
  std::sort(expected_rows.begin(), expected_rows.end());
  EXPECT_EQ(rows, expected_rows);

  CliResult json = Run(ntfs->path(), "--list --json");
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_FALSE(HoldsRawControl(json.out)) << json.out;
  const std::map<std::string, std::string> originals = OriginalNames(json.OutLines());
  for (const HostileFile& file : files) EXPECT_EQ(originals.at("/" + file.written), file.name);

  CliResult run = Run(ntfs->path(), "--keep-paths --json --out '" + dir_ / "out" + "'");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_FALSE(HoldsRawControl(run.out + run.err)) << run.out;
  const std::string day = testing::DayFolderBelow(dir_ / "out");
  std::map<std::string, std::vector<uint8_t>> expected_files;
  for (const HostileFile& file : files) expected_files[file.written] = file.bytes;
  EXPECT_EQ(FilesIn(day), expected_files);
  EXPECT_EQ(testing::ReadFileBytes(day + "/dir_[2J/in.txt"), inside);
  EXPECT_EQ(testing::ReadFileBytes(day + "/___/in.txt"), in_dots);
  std::map<std::string, std::string> row_names;  // written name -> original name
  for (const std::string& line : run.OutLines()) {
    const nlohmann::json object = nlohmann::json::parse(line);
    if (object.contains("original_name")) {
      row_names[object.at("name").get<std::string>()] = object.at("original_name");
    }
  }
  for (const HostileFile& file : files) EXPECT_EQ(row_names[file.written], file.name);
}

TEST_F(HostileNamesTest, FatNamesOfDotsAndSpacesAreListedAndRecoveredUnderStandIns) {
  if (!testing::HaveFatTools()) GTEST_SKIP() << "mkfs.fat or mtools is not installed";
  std::string why;
  auto fat = testing::FatImage::Create(dir_ / "fat.img", 16, 20480, 4, &why);
  ASSERT_TRUE(fat) << why;
  // Written under names mtools takes (a "+" makes it write a long name), deleted, then given the
  // names it refuses.
  struct DotFile {
    std::string written_by_mtools;
    HostileFile file;
  };
  const std::vector<DotFile> dots = {
      {"+", {".", "_", FatTestBytes(100, 1)}},
      {"=", {" ", "_", FatTestBytes(200, 2)}},
      {"++", {"..", "__", FatTestBytes(300, 3)}},
      {"+++", {"...", "___", FatTestBytes(400, 4)}},
      {"===", {".. ", "___", FatTestBytes(500, 5)}},
      {"a+.txt", {"  .txt", "  .txt", FatTestBytes(600, 6)}},
  };
  // All written before any is deleted: mtools gives a deleted entry's place to the next name.
  for (const DotFile& dot : dots) {
    ASSERT_TRUE(fat->WriteFile("/" + dot.written_by_mtools, dot.file.bytes));
  }
  // A deleted folder named ".." whose file must stay below it.
  const std::vector<uint8_t> inside = FatTestBytes(700, 7);
  ASSERT_TRUE(fat->MakeFolder("/k+"));
  ASSERT_TRUE(fat->WriteFile("/k+/in.txt", inside));
  for (const DotFile& dot : dots) ASSERT_TRUE(fat->Delete("/" + dot.written_by_mtools));
  ASSERT_TRUE(fat->DeleteTree("/k+"));
  for (const DotFile& dot : dots) {
    ASSERT_TRUE(fat->RenameLongName(dot.written_by_mtools, dot.file.name)) << dot.file.name;
  }
  ASSERT_TRUE(fat->RenameLongName("k+", ".."));

  CliResult json = Run(fat->path(), "--list --json");
  ASSERT_EQ(json.status, 0) << json.err;
  std::vector<std::pair<std::string, std::string>> listed;  // path, original name
  for (const std::string& line : json.OutLines()) {
    const nlohmann::json object = nlohmann::json::parse(line);
    listed.emplace_back(object.at("path"), object.at("original_name"));
  }
  // mtools wrote the folder's file under its short name alone, which lost its first letter.
  std::vector<std::pair<std::string, std::string>> expected = {{"/__/KES_N.TXT", "_N.TXT"}};
  for (const DotFile& dot : dots) expected.emplace_back("/" + dot.file.written, dot.file.name);
  std::sort(listed.begin(), listed.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(listed, expected);

  CliResult flat = Run(fat->path(), "--out '" + dir_ / "flat" + "'");
  ASSERT_EQ(flat.status, 0) << flat.err;
  const std::map<std::string, std::vector<uint8_t>> written =
      FilesIn(testing::DayFolderBelow(dir_ / "flat"));
  ASSERT_EQ(written.size(), dots.size() + 1);  // two names taken twice come back as copies
  for (const DotFile& dot : dots) {
    EXPECT_NE(std::find_if(written.begin(), written.end(),
                           [&](const auto& entry) { return entry.second == dot.file.bytes; }),
              written.end())
        << dot.file.name;
  }
  for (const auto& [name, bytes] : written) EXPECT_NE(name.front(), '.') << name;
  EXPECT_EQ(written.at("  .txt"), dots.back().file.bytes);
  EXPECT_EQ(written.at("__"), dots[2].file.bytes);

  CliResult kept = Run(fat->path(), "--keep-paths --out '" + dir_ / "kept" + "'");
  ASSERT_EQ(kept.status, 0) << kept.err;
  const std::string day = testing::DayFolderBelow(dir_ / "kept");
  EXPECT_EQ(testing::ReadFileBytes(day + "/__/KES_N.TXT"), inside);
  EXPECT_FALSE(std::filesystem::exists(day + "/KES_N.TXT"));
}

}  // namespace
}  // namespace kestrel
