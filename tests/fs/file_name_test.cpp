// The names recovered files and kept folders are written under, from names as any volume gives
// them.
#include "fs/file_name.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/utf16_text.h"

namespace kestrel {
namespace {

// A name as a volume gives it, and the name it is written under.
struct NameCase {
  std::string as_read;
  std::string written;
};

void ExpectWrittenNames(const std::vector<NameCase>& cases) {
  for (const NameCase& c : cases) {
    EXPECT_EQ(Utf8FileName(c.as_read), c.written) << ::testing::PrintToString(c.as_read);
  }
}

TEST(FileNames, ControlsOverridesAndSlashesBecomeVisibleSubstitutes) {
  ExpectWrittenNames({
      {"a/b.txt", "a_b.txt"},
      {std::string("a\0b", 3), "a_b"},
      {"\x1b]0;PWNED\x07\x1b[31mred.txt", "_]0;PWNED__[31mred.txt"},
      {"two\nlines\tand\rmore\x7f.txt", "two_lines_and_more_.txt"},
      // C1 controls (CSI, OSC), bidirectional overrides, isolates and marks: one "_" each.
      {"csi\u009B31m\u009D.txt", "csi_31m_.txt"},
      {"\u202Egnp.exe", "_gnp.exe"},
      {"a\u2066b\u2069c\u200Ed\u200F\u061C", "a_b_c_d__"},
      {"line\u2028para\u2029", "line_para_"},
      // A byte that is no UTF-8 (one "_" per byte), and text that is, kept as it is.
      {"bad\xff\xC3.jpg", "bad__.jpg"},
      {"Grüße aus 日本 😀.jpg", "Grüße aus 日本 😀.jpg"},
  });
}

TEST(FileNames, NamesOfDotsAndSpacesGetAStandIn) {
  ExpectWrittenNames({
      {"", "_"},
      {".", "_"},
      {"..", "__"},
      {"...", "___"},
      {".. ", "___"},
      {" ", "_"},
      // Names with anything else keep their dots and spaces.
      {"  .txt", "  .txt"},
      {".profile", ".profile"},
      {"a...", "a..."},
      // A control in a name of dots leaves a name that is not only dots.
      {".\n.", "._."},
  });
}

TEST(FileNames, LongNamesAreShortenedBeforeTheirExtension) {
  // 255 three-byte characters: shortened at a character boundary, extension kept.
  std::string long_name;
  for (int i = 0; i < 255; ++i) long_name += "日";
  const std::string shortened = Utf8FileName(long_name + ".jpg");
  EXPECT_LE(shortened.size(), 240u);
  EXPECT_EQ(shortened.substr(shortened.size() - 4), ".jpg");
  EXPECT_EQ(Utf16ToUtf8(u"日").size(), 3u);
  EXPECT_EQ((shortened.size() - 4) % 3, 0u);
  // 300 dots: the stand-in is shortened too.
  EXPECT_EQ(Utf8FileName(std::string(300, '.')), std::string(240, '_'));
}

TEST(FileNames, TypeExtension) {
  EXPECT_EQ(TypeExtensionOf("A.JPEG"), "JPG");
  EXPECT_EQ(TypeExtensionOf("clip.mpe"), "MPG");
  EXPECT_EQ(TypeExtensionOf("x.tar.gz "), "GZ");
  EXPECT_EQ(TypeExtensionOf("README"), "");
  EXPECT_EQ(TypeExtensionOf("photo.Jpg"), "JPG");
}

}  // namespace
}  // namespace kestrel
