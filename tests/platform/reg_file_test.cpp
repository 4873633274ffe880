#include "platform/reg_file.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

TEST(RegFileTest, FaultsAreFoundWithTheirLineNumbers) {
  struct Case {
    const char* text;
    int line;
  };
  const Case cases[] = {
      {"REGEDIT4\n[k]\n", 1},
      {"Windows Registry Editor Version 5.00\n\n\"v\"=\"before any key\"\n", 3},
      {"Windows Registry Editor Version 5.00\n[k]\n\"v\"=\"no end\n", 3},
      {"Windows Registry Editor Version 5.00\n[k]\n\"v\"=\"x\" trailing\n", 3},
      {"Windows Registry Editor Version 5.00\n[k]\n\"v\"=hex:1,02\n", 3},
      {"Windows Registry Editor Version 5.00\n[k]\n\"v\"=hex:01,zz\n", 3},
      {"Windows Registry Editor Version 5.00\n[k]\n\"v\"=hex:01,\\\n", 3},
      {"Windows Registry Editor Version 5.00\n[k]\n\"v\"=dword:123456789\n", 3},
      {"Windows Registry Editor Version 5.00\n[k]\n\"v\"=qword:1\n", 3},
      {"Windows Registry Editor Version 5.00\n[k]\n\"v\" \"x\"\n", 3},
      {"Windows Registry Editor Version 5.00\n[k\n", 2},
      {"Windows Registry Editor Version 5.00\n[k]\nplain words\n", 3},
  };
  for (const Case& c : cases) {
    RegParseResult result = ParseRegFile(c.text);
    EXPECT_FALSE(result.file) << c.text;
    EXPECT_EQ(result.error_line, c.line) << c.text;
    EXPECT_FALSE(result.error.empty());
  }
}

TEST(RegFileTest, EmptyTextIsAnEmptyFileAndRemovalsApply) {
  ASSERT_TRUE(ParseRegFile("").file);
  ASSERT_TRUE(ParseRegFile(" \n\n").file);
  RegParseResult result = ParseRegFile(
      "Windows Registry Editor Version 5.00\n"
      "[a]\n\"x\"=\"1\"\n\"y\"=\"2\"\n"
      "[b]\n\"z\"=hex:\n"
      "[A]\n\"x\"=-\n"
      "[-b]\n");
  ASSERT_TRUE(result.file) << result.error;
  ASSERT_EQ(result.file->keys.size(), 1u);
  const RegKey& key = result.file->keys[0];
  EXPECT_EQ(key.Find("x"), nullptr);
  ASSERT_NE(key.Find("Y"), nullptr);
  EXPECT_EQ(key.Find("y")->text, "2");
}

TEST(RegFileTest, TypedValuesWriteBackAsRead) {
  const std::string text =
      "Windows Registry Editor Version 5.00\n\n"
      "[k]\n"
      "@=\"d\"\n"
      "\"n\"=dword:deadbeef\n"
      "\"e\"=hex(2):25,00,00,00\n"
      "\"m\"=hex(7):61,00,00,00,00,00\n"
      "\"b\"=hex:\n\n";
  RegParseResult result = ParseRegFile(text);
  ASSERT_TRUE(result.file) << result.error;
  EXPECT_EQ(SerializeRegFile(*result.file), text);
  EXPECT_EQ(result.file->keys[0].Find("n")->bytes, (std::vector<uint8_t>{0xef, 0xbe, 0xad, 0xde}));
}

}  // namespace
}  // namespace kestrel
