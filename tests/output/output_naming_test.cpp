// Naming of recovered files: numbering per extension, copies on a clash, and that no name
// ever replaces an existing file.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <set>

#include "output/output_naming.h"
#include "output/recovered_writer.h"
#include "platform/atomic_file.h"
#include "run/file_types.h"
#include "support/fake_run_ui.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

using testing::ReadFileBytes;
using testing::TempDir;
using testing::WriteFileBytes;

TEST(CarvedNumbering, ContinuesAfterTheHighestNumberPerExtension) {
  TempDir dir;
  const std::string folder = dir.path() + "/";
  std::string name;
  uint64_t base = 0;
  EXPECT_FALSE(NextFreeNumber(folder, "KES", "JPG", &name, &base));
  EXPECT_EQ(name, "KES00001.JPG");
  EXPECT_EQ(base, 1u);

  WriteFileBytes(folder + "KES00009.JPG", {1});
  WriteFileBytes(folder + "KES00003.JPG", {1});
  WriteFileBytes(folder + "KESX.JPG", {1});      // no five digits: ignored
  WriteFileBytes(folder + "KES00050.PNG", {1});  // another extension
  base = 0;
  EXPECT_TRUE(NextFreeNumber(folder, "KES", "JPG", &name, &base));
  EXPECT_EQ(name, "KES00010.JPG");
  EXPECT_EQ(base, 10u);

  // A base that is already known is kept.
  base = 4;
  NextFreeNumber(folder, "KES", "PNG", &name, &base);
  EXPECT_EQ(name, "KES00051.PNG");
  EXPECT_EQ(base, 4u);
  EXPECT_EQ(CarvedName("KES", 123456, "GIF"), "KES123456.GIF") << "numbers grow past five digits";
}

TEST(UniquePaths, CopiesAreNumberedFromOne) {
  TempDir dir;
  const std::string path = dir / "IMG.JPG";
  EXPECT_EQ(MakeUniquePath(path), path);
  WriteFileBytes(path, {1});
  EXPECT_EQ(MakeUniquePath(path), dir / "IMG - Copy(1).JPG");
  WriteFileBytes(dir / "IMG - Copy(1).JPG", {1});
  EXPECT_EQ(MakeUniquePath(path), dir / "IMG - Copy(2).JPG");
  WriteFileBytes(dir / "README", {1});
  EXPECT_EQ(MakeUniquePath(dir / "README"), dir / "README - Copy(1)");
}

// Restores one file of `bytes` named `wanted` into the run folder through the writer; the path
// it was kept under.
std::string Restore(RecoveredWriter& writer, const std::string& wanted, uint8_t byte) {
  if (writer.CreateNamed("", wanted) != FileErrorCause::kNone) return {};
  writer.Write(&byte, 1);
  const std::string path = writer.path();
  return writer.Keep() ? path : std::string();
}

// A name is taken by anything a write to it would need: the file, or the partial file
// ".NAME.part" in whatever form (a file, a link, a FIFO left in the day folder).
TEST(UniquePaths, APartialFileOrAnythingAtItsNameTakesTheName) {
  TempDir dir;
  testing::FakeRunUi ui;
  RunContext run(ui);
  RecoveredWriter writer(run, dir / "");
  WriteFileBytes(dir / ".Report.doc.part", {7});
  ASSERT_EQ(::symlink("/nowhere", (dir / ".Letter.doc.part").c_str()), 0);
  ASSERT_EQ(::mkfifo((dir / ".Memo.doc.part").c_str(), 0600), 0);
  EXPECT_EQ(Restore(writer, "Report.doc", 1), dir / "Report - Copy(1).doc");
  EXPECT_EQ(Restore(writer, "Letter.doc", 2), dir / "Letter - Copy(1).doc");
  EXPECT_EQ(Restore(writer, "Memo.doc", 3), dir / "Memo - Copy(1).doc");
  EXPECT_EQ(ReadFileBytes(dir / ".Report.doc.part"), std::vector<uint8_t>{7});
  EXPECT_EQ(ReadFileBytes(dir / "Memo - Copy(1).doc"), std::vector<uint8_t>{3});
  EXPECT_EQ(ui.rows.size(), 3u);
}

// Many files of one name: every copy number once, in order, and a file not kept gives its
// name back to the next one.
TEST(UniquePaths, ClashingNamesCountOnAndADiscardedNameIsUsedAgain) {
  TempDir dir;
  testing::FakeRunUi ui;
  RunContext run(ui);
  RecoveredWriter writer(run, dir / "");
  WriteFileBytes(dir / "IMG - Copy(3).JPG", {0});  // a file of an earlier run
  std::set<std::string> names;
  for (int i = 0; i < 2000; ++i) names.insert(Restore(writer, "IMG.JPG", 1));
  EXPECT_EQ(names.size(), 2000u);
  EXPECT_TRUE(names.count(dir / "IMG.JPG"));
  EXPECT_TRUE(names.count(dir / "IMG - Copy(2000).JPG"));
  EXPECT_FALSE(names.count(dir / "IMG - Copy(3).JPG"));
  EXPECT_EQ(ReadFileBytes(dir / "IMG - Copy(3).JPG"), std::vector<uint8_t>{0});

  ASSERT_EQ(writer.CreateNamed("", "IMG.JPG"), FileErrorCause::kNone);
  EXPECT_EQ(writer.path(), dir / "IMG - Copy(2001).JPG");
  writer.Discard();
  EXPECT_EQ(Restore(writer, "IMG.JPG", 1), dir / "IMG - Copy(2001).JPG");
}

TEST(UniquePaths, RenameNeverReplacesAFile) {
  TempDir dir;
  WriteFileBytes(dir / "a", {1, 2, 3});
  WriteFileBytes(dir / "b", {9});
  EXPECT_NE(RenameNoReplace(dir / "a", dir / "b"), 0);
  EXPECT_EQ(ReadFileBytes(dir / "b"), std::vector<uint8_t>{9});
  EXPECT_EQ(RenameNoReplace(dir / "a", dir / "c"), 0);
  EXPECT_EQ(ReadFileBytes(dir / "c"), (std::vector<uint8_t>{1, 2, 3}));
}

TEST(FileTypeCatalogue, RowsAreInCodeOrder) {
  const auto& rows = FileTypeCatalogue();
  for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i].index, i);
  EXPECT_EQ(rows[kXls].list_text, "XLS/XLSX");
  EXPECT_EQ(rows[kXls].name, "XLS");
  EXPECT_EQ(FindTypeByName("ZIP"), kZip);
  EXPECT_FALSE(FindTypeByName("zip")) << "names compare exactly";
  EXPECT_FALSE(FindTypeByName("DOCX"));
}

TEST(FileTypeCatalogue, ExtensionFilterOfTheDeletedFilesMode) {
  FileTypeSelection selection;
  selection.mask = TypeBit(kJpg) | TypeBit(kZip);
  selection.scan_all = 0;
  EXPECT_TRUE(selection.IsExtensionWanted("ZIP")) << "bit 36 lies above 32 bits";
  EXPECT_FALSE(selection.IsExtensionWanted("PNG"));
  EXPECT_FALSE(selection.IsExtensionWanted("DOCX"));
  selection.scan_all = 1;
  EXPECT_TRUE(selection.IsExtensionWanted("TXT"));
}

}  // namespace
}  // namespace kestrel
