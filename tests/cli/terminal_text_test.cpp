// Text from a volume as kestrel-cli prints it: escaped for the terminal, and in JSON lines exact.
#include "cli/terminal_text.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "cli/json_text.h"

namespace kestrel {
namespace {

TEST(TerminalText, EscapesWhatWouldSteerTheTerminalOrBreakTheRow) {
  EXPECT_EQ(TerminalText("\x1b]0;PWNED\x07\x1b[31mred.txt"),
            "\\u001b]0;PWNED\\u0007\\u001b[31mred.txt");
  EXPECT_EQ(TerminalText("a\nb\tc\rd\x7f"), "a\\u000ab\\u0009c\\u000dd\\u007f");
  EXPECT_EQ(TerminalText("csi\u009B31m \u202Eexe.txt"), "csi\\u009b31m \\u202eexe.txt");
  EXPECT_EQ(TerminalText("cut\xE2\x80 \xff"), "cut\\xe2\\x80 \\xff");
  EXPECT_EQ(TerminalText("Grüße 日本 \\ 😀.jpg"), "Grüße 日本 \\ 😀.jpg");
}

TEST(TerminalText, JsonLinesKeepTheExactValueWithoutRawControls) {
  const std::string hostile = "\x1b]0;t\x07 csi\u009B \u202E\u2066 line\u2028end\x7f";
  const std::string line = JsonLine({{"original_name", hostile}, {"bytes", 3}});
  EXPECT_EQ(TerminalText(line), line);  // nothing raw left to escape
  EXPECT_EQ(line.find('\x1b'), std::string::npos);
  EXPECT_EQ(line.find("\u009B"), std::string::npos);
  EXPECT_EQ(line.find("\u202E"), std::string::npos);
  EXPECT_EQ(nlohmann::json::parse(line).at("original_name").get<std::string>(), hostile);
}

}  // namespace
}  // namespace kestrel
