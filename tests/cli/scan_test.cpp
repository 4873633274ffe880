// kestrel-cli scan: the rows it prints, its closing message, JSON lines and exit statuses.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <algorithm>

#include "cli/json_text.h"
#include "run/messages.h"
#include "support/cli_runner.h"
#include "support/fixture_samples.h"
#include "support/image_builder.h"

namespace kestrel {
namespace {

using testing::ImageBuilder;
using testing::RunCli;
using testing::TempDir;

class ScanCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ImageBuilder image;
    image.AddZeros(4);
    image.AddSample("picture.png");
    image.AddZeros(4);
    image.AddSample("picture.gif");
    image.AddZeros(4);
    image.AddSample("jfif.jpg");
    image.AddZeros(70);
    image.WriteTo(dir_ / "card.img");
  }
  TempDir dir_;
};

TEST_F(ScanCommandTest, ListsRecoveredFilesThenTheClosingMessage) {
  auto result = RunCli(dir_, "scan " + dir_ / "card.img" + " --out " + dir_ / "out");
  ASSERT_EQ(result.status, 0) << result.err;
  auto lines = result.OutLines();
  ASSERT_EQ(lines.size(), 4u) << result.out;
  EXPECT_EQ(lines[0].substr(0, lines[0].find('\t')), "KES00001.PNG");
  EXPECT_NE(lines[0].find("\t6 KB\t" + dir_ / "out/"), std::string::npos) << lines[0];
  EXPECT_EQ(lines[1].substr(0, 13), "KES00001.GIF\t");
  EXPECT_EQ(lines[2].substr(0, 13), "KES00001.JPG\t");
  EXPECT_EQ(lines[3], MessageText(msg::kCompleted));
}

TEST_F(ScanCommandTest, JsonGivesOneObjectPerFileAndTheMessage) {
  auto result =
      RunCli(dir_, "scan " + dir_ / "card.img" + " --out " + dir_ / "out --types png --json");
  ASSERT_EQ(result.status, 0) << result.err;
  auto lines = result.OutLines();
  ASSERT_EQ(lines.size(), 2u) << result.out;
  EXPECT_NE(lines[0].find("\"name\": \"KES00001.PNG\""), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("\"bytes\": 5153"), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("\"created\": true"), std::string::npos);
  EXPECT_EQ(lines[1],
            "{\"message_id\": 112, \"message\": \"Recovery process completed successfully.\"}");
}

// A picture cut short (the next file starts inside its data) is not whole: without
// --keep-partial it is not written; with it, it goes to partial/ and is listed apart.
TEST_F(ScanCommandTest, KeepPartialWritesWhatIsNotWholeApart) {
  std::vector<uint8_t> cut = testing::ReadFixtureSample("jfif.jpg");
  cut.resize(cut.size() / 2);
  ImageBuilder image;
  image.AddFile(cut, "cut.jpg");
  image.AddSample("picture.png");
  image.AddZeros(70);
  image.WriteTo(dir_ / "cut.img");

  auto plain = RunCli(dir_, "scan " + dir_ / "cut.img" + " --out " + dir_ / "plain");
  ASSERT_EQ(plain.status, 0) << plain.err;
  ASSERT_EQ(plain.OutLines().size(), 2u) << plain.out;
  EXPECT_EQ(plain.OutLines()[0].substr(0, 13), "KES00001.PNG\t");

  auto kept = RunCli(dir_, "scan " + dir_ / "cut.img" + " --out " + dir_ / "kept --keep-partial");
  ASSERT_EQ(kept.status, 0) << kept.err;
  auto lines = kept.OutLines();
  ASSERT_EQ(lines.size(), 4u) << kept.out;
  EXPECT_EQ(lines[0].substr(0, 13), "KES00001.PNG\t");
  EXPECT_EQ(lines[1], "Not whole, kept apart (1):");
  const std::string folder = lines[1 + 1].substr(lines[2].rfind('\t') + 1);
  EXPECT_EQ(lines[2].substr(0, 13), "KES00001.JPG\t");
  EXPECT_EQ(folder.substr(folder.size() - 9), "/partial/") << lines[2];
  // The picture's sectors up to the next file's header (and what it took after that file, as
  // a picture goes on after a file in its gap).
  std::vector<uint8_t> written = testing::ReadFileBytes(folder + "KES00001.JPG");
  ASSERT_GE(written.size(), cut.size());
  EXPECT_TRUE(std::equal(cut.begin(), cut.end(), written.begin()));
  EXPECT_EQ(lines[3], MessageText(msg::kCompleted));

  auto json =
      RunCli(dir_, "scan " + dir_ / "cut.img" + " --out " + dir_ / "kept --keep-partial --json");
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_NE(json.out.find("\"name\": \"KES00002.JPG\""), std::string::npos) << json.out;
  EXPECT_NE(json.out.find("\"whole\": false"), std::string::npos) << json.out;
  EXPECT_EQ(RunCli(dir_, "deleted " + dir_ / "cut.img" + " --keep-partial").status, 2);
}

TEST_F(ScanCommandTest, NothingFoundIsStillACompletedRun) {
  ImageBuilder empty;
  empty.AddZeros(100);
  empty.WriteTo(dir_ / "empty.img");
  auto result = RunCli(dir_, "scan " + dir_ / "empty.img" + " --out " + dir_ / "out");
  EXPECT_EQ(result.status, 0);
  EXPECT_NE(result.out.find("Could not find any valid image/file"), std::string::npos);
}

TEST_F(ScanCommandTest, UsageErrorsAndRefusals) {
  EXPECT_EQ(RunCli(dir_, "scan").status, 2);
  EXPECT_EQ(RunCli(dir_, "scan " + dir_ / "card.img" + " --types nope").status, 2);
  EXPECT_EQ(RunCli(dir_, "scan " + dir_ / "card.img" + " --read-errors maybe").status, 2);
  auto missing = RunCli(dir_, "scan " + dir_ / "missing.img" + " --out " + dir_ / "out");
  EXPECT_EQ(missing.status, 1);
  EXPECT_FALSE(missing.err.empty());
  // A FIFO is no source: refused with the reason, never opened (that would wait for a writer).
  ASSERT_EQ(::mkfifo((dir_ / "pipe").c_str(), 0600), 0);
  for (const char* command : {"scan ", "deleted "}) {
    auto piped = RunCli(dir_, command + dir_ / "pipe" + " --out " + dir_ / "out");
    EXPECT_EQ(piped.status, 1) << command;
    EXPECT_NE(piped.err.find("is no disk, partition or image file"), std::string::npos)
        << piped.err;
  }
  // A recovery folder that cannot be made: message 124 on stderr.
  testing::WriteFileBytes(dir_ / "file", {1});
  auto refused = RunCli(dir_, "scan " + dir_ / "card.img" + " --out " + dir_ / "file");
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find(MessageText(msg::kCannotCreateFolder)), std::string::npos)
      << refused.err;
}

}  // namespace
}  // namespace kestrel

namespace kestrel {
namespace {

TEST(JsonText, MembersInOrderAndInvalidUtf8BecomesAReplacementCharacter) {
  // A raw volume label may hold any byte; the JSON line must stay valid.
  const JsonObject line = {{"label",
                            "A\xE9"
                            "B \xC3\xA9 \"q\"\n"},
                           {"cut", "\xE2\x82"},
                           {"bytes", uint64_t{1} << 40},
                           {"created", true}};
  EXPECT_EQ(JsonLine(line),
            "{\"label\": \"A\xEF\xBF\xBD"
            "B \xC3\xA9 \\\"q\\\"\\n\", \"cut\": \"\xEF\xBF\xBD\", \"bytes\": 1099511627776, "
            "\"created\": true}");
  EXPECT_EQ(JsonObject::parse(JsonLine(line))["label"], "A\uFFFDB \u00E9 \"q\"\n");
}

}  // namespace
}  // namespace kestrel
