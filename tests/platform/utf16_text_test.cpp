// UTF-16 names decoded to UTF-8, UTF-8 read and cut without splitting a character, and the
// characters that steer a display.
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

// The length DecodeUtf8 gives at the start of `bytes`, and the character into `code`.
size_t DecodeFirst(std::string_view bytes, char32_t* code) {
  return DecodeUtf8(bytes, 0, code);
}

TEST(Utf8Text, DecodesWholeCharactersAndRefusesBrokenOnes) {
  char32_t code = 0;
  EXPECT_EQ(DecodeFirst("a", &code), 1u);
  EXPECT_EQ(code, U'a');
  EXPECT_EQ(DecodeFirst("\xC2\x9B", &code), 2u);
  EXPECT_EQ(code, 0x9Bu);
  EXPECT_EQ(DecodeFirst("\xE2\x80\xAE", &code), 3u);
  EXPECT_EQ(code, 0x202Eu);
  EXPECT_EQ(DecodeFirst("\xF0\x9F\x98\x80", &code), 4u);
  EXPECT_EQ(code, 0x1F600u);
  // A stray continuation byte, a cut sequence, overlong forms, a surrogate, beyond U+10FFFF.
  for (std::string_view broken : {"\x80", "\xE2\x80", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80",
                                  "\xF4\x90\x80\x80", "\xFF", "\xE2(\xAE"}) {
    EXPECT_EQ(DecodeFirst(broken, &code), 0u) << ::testing::PrintToString(std::string(broken));
  }
  // Decoding starts where it is told to, never reading past the end.
  EXPECT_EQ(DecodeUtf8("ab\xC3", 2, &code), 0u);
}

TEST(Utf8Text, DisplayControlsAreControlsSeparatorsAndBidirectionalFormatting) {
  for (char32_t code : {0x00u, 0x07u, 0x09u, 0x0Au, 0x1Bu, 0x7Fu, 0x80u, 0x9Bu, 0x9Fu, 0x061Cu,
                        0x200Eu, 0x200Fu, 0x2028u, 0x2029u, 0x202Au, 0x202Eu, 0x2066u, 0x2069u}) {
    EXPECT_TRUE(IsDisplayControl(code)) << std::hex << static_cast<uint32_t>(code);
  }
  for (char32_t code :
       {0x20u, 0x41u, 0x7Eu, 0xA0u, 0xFCu, 0x200Du, 0x2030u, 0x65E5u, 0xFFFDu, 0x1F600u}) {
    EXPECT_FALSE(IsDisplayControl(code)) << std::hex << static_cast<uint32_t>(code);
  }
}

}  // namespace
}  // namespace kestrel
