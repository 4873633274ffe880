// Length-driven files (WAV, BMP, AIFF, AVI) made by real tools whose data holds other files'
// headers at sector starts: a valid header's stated length is kept whole, and the loose
// headers inside it start nothing.

#include <algorithm>
#include <string_view>

#include "support/fixture_samples.h"
#include "support/image_builder.h"
#include "support/memory_scan.h"

namespace kestrel {
namespace {

using testing::ExpectedFiles;
using testing::ImageBuilder;

struct ToolFile {
  const char* tool;
  const char* command;  // writes "out"
  const char* extension;
};

constexpr ToolFile kToolFiles[] = {
    {"sox", "sox -n -r 8000 -b 16 -c 1 -t wav out synth 1 sine 440", "WAV"},
    {"sox", "sox -n -r 8000 -b 16 -c 2 -t aiff out synth 0.5 sine 440", "AIF"},
    {"gm", "gm convert -size 200x150 plasma: bmp:out", "BMP"},
    {"ffmpeg",
     "ffmpeg -v error -f lavfi -i testsrc=duration=1:size=320x240:rate=5 -c:v mjpeg -f avi out",
     "AVI"},
};

std::vector<uint8_t> MakeToolFile(const ToolFile& file) {
  testing::TempDir work;
  if (testing::RunCommand("cd '" + work.path() + "' && " + file.command) != 0) return {};
  return testing::ReadFileBytes(work / "out");
}

// Where `n` bytes of `file` may be replaced without touching its structure: the whole file
// after its first sectors for one block of sound or pixels; for an AVI, its frames' data (its
// chunk headers and lists lie between them).
bool InsideData(const std::vector<uint8_t>& file, size_t at, size_t n) {
  const std::string_view text(reinterpret_cast<const char*>(file.data()), file.size());
  if (text.substr(8, 4) != "AVI ") return true;
  const auto le32 = [&file](size_t k) {
    return size_t{file[k]} | size_t{file[k + 1]} << 8 | size_t{file[k + 2]} << 16 |
           size_t{file[k + 3]} << 24;
  };
  const size_t movi = text.find("movi");
  const size_t movi_end = std::min(file.size(), movi + le32(movi - 4));
  for (size_t chunk = movi + 4; chunk + 8 <= movi_end;) {
    const size_t size = le32(chunk + 4);
    if (at >= chunk + 8 && at + n <= chunk + 8 + size) return true;
    chunk += 8 + size + (size & 1);
  }
  return false;
}

// `file` with the first bytes of `planted` written over the starts of its sectors 2, 4, ... that
// lie inside its data (a JPEG start inside samples or pixels, as real data holds now and then).
std::vector<uint8_t> WithHeadersInside(std::vector<uint8_t> file,
                                       const std::vector<uint8_t>& planted) {
  const size_t n = std::min<size_t>(planted.size(), 512);
  for (size_t at = 2 * 512; at + 512 <= file.size(); at += 2 * 512) {
    if (InsideData(file, at, n)) std::copy_n(planted.begin(), n, file.begin() + at);
  }
  return file;
}

TEST(CountedRecovery, HeadersInsideAValidLengthStartNothing) {
  const std::vector<uint8_t> jpeg = testing::ReadFixtureSample("jfif.jpg");
  ASSERT_FALSE(jpeg.empty());
  for (const ToolFile& tool_file : kToolFiles) {
    SCOPED_TRACE(tool_file.extension);
    if (!testing::HaveTool(tool_file.tool)) GTEST_SKIP() << tool_file.tool << " is not installed";
    const std::vector<uint8_t> original = MakeToolFile(tool_file);
    ASSERT_GT(original.size(), 4 * 512u);
    const std::vector<uint8_t> file = WithHeadersInside(original, jpeg);
    ImageBuilder image;
    image.AddZeros(2);
    image.AddFile(file, "counted");
    image.AddFile(jpeg, "a real JPEG after it");
    image.AddZeros(4);
    ExpectedFiles expected;
    expected.Add(tool_file.extension, file);
    expected.Add("JPG", jpeg);
    testing::ExpectCarved(image.bytes(), expected);
  }
}

// A fragmented file's stated length may run over another file. A header that is valid beyond
// a few bytes and that sound and pixel data do not hold (a GIF, a ZIP) ends the length-driven
// file and is recovered whole; the JPEG starts inside still start nothing.
TEST(CountedRecovery, AnotherFileInsideAValidLengthIsRecovered) {
  const std::vector<uint8_t> gif = testing::ReadFixtureSample("picture.gif");
  const std::vector<uint8_t> jpeg = testing::ReadFixtureSample("jfif.jpg");
  for (const ToolFile& tool_file : {kToolFiles[0], kToolFiles[2]}) {
    SCOPED_TRACE(tool_file.extension);
    if (!testing::HaveTool(tool_file.tool)) GTEST_SKIP() << tool_file.tool << " is not installed";
    std::vector<uint8_t> file = WithHeadersInside(MakeToolFile(tool_file), jpeg);
    ASSERT_GT(file.size(), 8 * 512 + gif.size());
    std::copy(gif.begin(), gif.end(), file.begin() + 5 * 512);
    std::fill(file.begin() + 5 * 512 + gif.size(), file.end(), 0);
    ImageBuilder image;
    image.AddZeros(2);
    image.AddFile(file, "counted, ended by the GIF");
    image.AddZeros(4);
    ExpectedFiles expected;
    expected.Add("GIF", gif);
    testing::ExpectCarved(image.bytes(), expected);
  }
}

// A WAV whose format chunk is not audio proves nothing about its length: a header inside it
// ends it, as an unchecked length-driven file always was.
TEST(CountedRecovery, AnUncheckedLengthIsStillEndedByAHeader) {
  if (!testing::HaveTool("sox")) GTEST_SKIP() << "sox is not installed";
  std::vector<uint8_t> wav = MakeToolFile(kToolFiles[0]);
  ASSERT_GT(wav.size(), 4 * 512u);
  std::fill_n(wav.begin() + 12, 4, 'x');  // no "fmt " chunk
  const std::vector<uint8_t> jpeg = testing::ReadFixtureSample("jfif.jpg");
  std::copy(jpeg.begin(), jpeg.end(), wav.begin() + 2 * 512);
  ImageBuilder image;
  image.AddFile(wav, "wav");
  image.AddZeros(4);
  const auto files = testing::CarveInMemory(image.bytes());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].name, "KES00001.JPG");
}

}  // namespace
}  // namespace kestrel
