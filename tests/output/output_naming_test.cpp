// Naming of recovered files: numbering per extension, copies on a clash, and that no name
// ever replaces an existing file.
#include <gtest/gtest.h>

#include "output/output_naming.h"
#include "platform/atomic_file.h"
#include "run/file_types.h"
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
