#include "fs/fat/fat_directory.h"

#include <gtest/gtest.h>

#include <array>

#include "fs/fat/fat_folders.h"
#include "sources/scan_source.h"
#include "support/fat_image.h"
#include "support/param_names.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

using testing::FatImage;
using testing::TempDir;

// A long-name entry carrying up to 13 UTF-16 units of `units` from `from` (padded as Windows
// pads: one NUL, then 0xFFFF).
std::array<uint8_t, 32> LongNamePiece(const std::vector<uint16_t>& units, size_t from,
                                      uint8_t checksum = 0) {
  static constexpr size_t kOffsets[] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  std::array<uint8_t, 32> e{};
  e[0] = kDeletedMark;
  e[11] = fat_attr::kLongName;
  e[13] = checksum;
  for (size_t i = 0; i < 13; ++i) {
    size_t at = from + i;
    uint16_t unit = at < units.size() ? units[at] : at == units.size() ? 0x0000 : 0xFFFF;
    e[kOffsets[i]] = static_cast<uint8_t>(unit);
    e[kOffsets[i] + 1] = static_cast<uint8_t>(unit >> 8);
  }
  return e;
}

// Stores the pieces of `units` the way they lie on disk: the last piece first.
std::string CollectName(const std::vector<uint16_t>& units) {
  LongNameCollector collector;
  size_t pieces = (units.size() + 12) / 13;
  for (size_t i = pieces; i-- > 0;) collector.Add(LongNamePiece(units, i * 13).data());
  return collector.Assemble();
}

std::vector<uint16_t> Ascii(const std::string& text) {
  return {text.begin(), text.end()};
}

TEST(LongNameTest, DecodesUtf16ToUtf8) {
  EXPECT_EQ(CollectName(Ascii("Long File Name.jpg")), "Long File Name.jpg");
  // "Grüße 写真 😀.jpg": two-byte, three-byte and a surrogate pair.
  std::vector<uint16_t> units = {'G', 'r',    0x00FC, 0x00DF, 'e', ' ', 0x5199, 0x771F,
                                 ' ', 0xD83D, 0xDE00, '.',    'j', 'p', 'g'};
  EXPECT_EQ(CollectName(units),
            "Gr\xC3\xBC\xC3\x9F"
            "e \xE5\x86\x99\xE7\x9C\x9F \xF0\x9F\x98\x80.jpg");
  // An unpaired surrogate cannot be held in UTF-8.
  EXPECT_EQ(LongNameToUtf8({'a', 0xD800, 'b'}),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(LongNameToUtf8({'a', 0xFFFF, 'b', 0x0000, 'c'}), "ab");
}

TEST(LongNameTest, FullLengthNamesKeepEveryPiece) {
  std::string name(250, 'x');
  name.replace(0, 5, "start");
  name.replace(name.size() - 7, 7, "end.jpg");
  EXPECT_EQ(CollectName(Ascii(name)), name);  // 20 pieces
}

TEST(LongNameTest, ChecksumTiesPiecesToTheirShortEntry) {
  const uint8_t short_name[11] = {'L', 'O', 'N', 'G', 'F', 'I', '~', '1', 'J', 'P', 'G'};
  LongNameCollector collector;
  collector.Add(LongNamePiece(Ascii("x.jpg"), 0, ShortNameChecksum(short_name)).data());
  EXPECT_TRUE(collector.MatchesShortName(short_name));
  collector.Add(LongNamePiece(Ascii("y"), 0, 0x12).data());
  EXPECT_FALSE(collector.MatchesShortName(short_name));
}

TEST(ShortNameTest, BlanksCodePageAndControlCharacters) {
  const uint8_t entry_bytes[32] = {'P', 'H', 'O', 'T', 'O', ' ', ' ', ' ', 'J', 'P', 'G'};
  EXPECT_EQ(ShortNameText(ParseDirEntry(entry_bytes)), "PHOTO.JPG");
  const uint8_t no_extension[32] = {'R', 'E', 'A', 'D', 'M', 'E', ' ', ' ', ' ', ' ', ' '};
  EXPECT_EQ(ShortNameText(ParseDirEntry(no_extension)), "README");
  const uint8_t oem[] = {'M', 0x81, 'L', 'L', 0x01};  // code page 850: 0x81 is u-umlaut
  EXPECT_EQ(ShortNamePart(oem, sizeof oem), "M\xC3\xBCLL_");
}

// Live folders listed from images made by mkfs.fat and mtools.
class FatFoldersTest : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    if (!testing::HaveFatTools()) GTEST_SKIP() << "mkfs.fat or mtools is not installed";
    std::string why;
    const int bits = GetParam();
    auto image = FatImage::Create(dir_ / "folders.img", bits, bits == 32 ? 40000 : 20480,
                                  bits == 32 ? 1 : 0, &why);
    ASSERT_TRUE(image) << why;
    ASSERT_TRUE(image->MakeFolder("/DCIM"));
    ASSERT_TRUE(image->MakeFolder("/DCIM/100CANON"));
    ASSERT_TRUE(image->MakeFolder("/DCIM/My Holiday Pictures"));
    ASSERT_TRUE(image->MakeFolder("/Music"));
    ASSERT_TRUE(image->MakeFolder("/Old"));
    ASSERT_TRUE(image->WriteFile("/DCIM/file.jpg", testing::FatTestBytes(100, 1)));
    ASSERT_TRUE(image->DeleteTree("/Old"));
    source_ = FileByteSource::Open(image->path());
    ASSERT_TRUE(source_);
  }
  TempDir dir_;
  std::unique_ptr<FileByteSource> source_;
};

TEST_P(FatFoldersTest, ListsLiveFoldersByLongNameAndResolvesTheSelectedOne) {
  bool found = false;
  EXPECT_EQ(ListFatFolders(*source_, "/", &found), (std::vector<std::string>{"DCIM", "Music"}));
  EXPECT_TRUE(found);
  EXPECT_EQ(ListFatFolders(*source_, "/dcim", &found),
            (std::vector<std::string>{"100CANON", "My Holiday Pictures"}));
  EXPECT_TRUE(ListFatFolders(*source_, "/DCIM/100CANON", &found).empty());
  EXPECT_TRUE(found);
  EXPECT_TRUE(ListFatFolders(*source_, "/Old", &found).empty());
  EXPECT_FALSE(found);
  EXPECT_TRUE(ListFatFolders(*source_, "/DC", &found).empty());  // listing wants whole names
  EXPECT_FALSE(found);

  // The selected folder: whole names first, then a part of a name as in the window.
  FatVolumeInfo info;
  ASSERT_TRUE(IdentifyFatVolume(*source_, &info));
  FatVolume volume(*source_, info);
  SelectedFolder root = ResolveSelectedFolder(volume, "/");
  EXPECT_EQ(root.resolution, FolderResolution::kFound);
  EXPECT_EQ(root.cluster, 0u);
  EXPECT_EQ(root.depth, 0u);
  SelectedFolder canon = ResolveSelectedFolder(volume, "\\DCIM\\100canon");
  EXPECT_EQ(canon.resolution, FolderResolution::kFound);
  EXPECT_EQ(canon.depth, 2u);
  EXPECT_TRUE(info.IsDataCluster(canon.cluster));
  SelectedFolder holiday = ResolveSelectedFolder(volume, "/DCIM/Holiday");
  EXPECT_EQ(holiday.resolution, FolderResolution::kFound);
  EXPECT_NE(holiday.cluster, canon.cluster);
  EXPECT_EQ(ResolveSelectedFolder(volume, "/Nowhere").resolution, FolderResolution::kNotFound);
  EXPECT_EQ(ResolveSelectedFolder(volume, "/Old").resolution, FolderResolution::kNotFound);
}

INSTANTIATE_TEST_SUITE_P(Fat16AndFat32, FatFoldersTest, ::testing::Values(16, 32),
                         testing::FatTypeName);

TEST(FatFoldersListTest, NoFileSystemListsNothing) {
  MemorySource zeros(std::vector<uint8_t>(1 << 20, 0));
  bool found = true;
  EXPECT_TRUE(ListFatFolders(zeros, "/", &found).empty());
  EXPECT_FALSE(found);
}

}  // namespace
}  // namespace kestrel
