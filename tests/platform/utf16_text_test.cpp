// UTF-16 names decoded to UTF-8, and UTF-8 cut without splitting a character.
#include "platform/utf16_text.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

TEST(Utf16Text, DecodesPairsAndReplacesUnpairedSurrogates) {
  // One, two, three and four bytes: "aü日😀".
  EXPECT_EQ(Utf16ToUtf8(u"a\u00FC\u65E5\U0001F600"), "a\xC3\xBC\xE6\x97\xA5\xF0\x9F\x98\x80");
  // A high surrogate before a non-surrogate, at the end, and a low one on its own.
  const char16_t unpaired[] = {0xD83D, u'x', 0xDE00, 0xD800};
  EXPECT_EQ(Utf16ToUtf8(std::u16string_view(unpaired, 4)), "\xEF\xBF\xBDx\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(Utf16ToUtf8(u""), "");
}

TEST(Utf16Text, ByteLimitEndsBeforeACharacterThatDoesNotFit) {
  const std::u16string_view name = u"a\u65E5\U0001F600b";  // 1 + 3 + 4 + 1 bytes
  EXPECT_EQ(Utf16ToUtf8(name, 3), "a");
  EXPECT_EQ(Utf16ToUtf8(name, 4), "a\xE6\x97\xA5");
  EXPECT_EQ(Utf16ToUtf8(name, 7), "a\xE6\x97\xA5");  // the pair is four bytes, never cut
  EXPECT_EQ(Utf16ToUtf8(name, 8), "a\xE6\x97\xA5\xF0\x9F\x98\x80");
  EXPECT_EQ(Utf16ToUtf8(name, 9), Utf16ToUtf8(name));
  EXPECT_EQ(Utf16ToUtf8(name, 0), "");
}

TEST(Utf16Text, CutKeepsWholeCharacters) {
  const std::string text = "\xE6\x97\xA5\xE6\x9C\xAC.jpg";  // "日本.jpg"
  EXPECT_EQ(CutUtf8(text, 100), text);
  EXPECT_EQ(CutUtf8(text, 6), "\xE6\x97\xA5\xE6\x9C\xAC");
  EXPECT_EQ(CutUtf8(text, 5), "\xE6\x97\xA5");
  EXPECT_EQ(CutUtf8(text, 3), "\xE6\x97\xA5");
  EXPECT_EQ(CutUtf8(text, 2), "");
  EXPECT_EQ(CutUtf8("abc", 2), "ab");
}

}  // namespace
}  // namespace kestrel
