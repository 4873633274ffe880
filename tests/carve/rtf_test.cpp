// RTF carving: the file ends right after the brace that closes its first group, counting
// escaped braces as text and skipping \bin data; files made by LibreOffice and by hand come back
// exact wherever the sector boundary falls; text that is not RTF and groups that never close are
// not kept.
#include "carve/formats/rtf.h"

#include "support/carve_harness.h"

namespace kestrel {
namespace {

// Feeds `image` from sector 0 as the dispatch would after an RTF header, without finishing.
void CarveRtf(CarveHarness& h) {
  h.Carve(StartRtf(), "RTF", 0, ~uint64_t{0}, false);
}

// Bytes that are no RTF text: every value, NUL and braces included.
Bytes BinaryData(size_t n) {
  Bytes data(n);
  for (size_t i = 0; i < n; ++i) data[i] = static_cast<uint8_t>(i * 37 + 11);
  return data;
}

// A document with nested groups, escaped braces and backslashes, a picture as \bin data (which
// holds braces, backslashes and NUL bytes) and `padding` bytes of text before the picture.
Bytes HandWrittenRtf(size_t padding) {
  const Bytes data = BinaryData(700);
  return Concat({testing::Bytes("{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\froman Times;}}\n"
                                "{\\info{\\title Braces \\{ and \\} and \\\\}}\n"
                                "\\pard{\\b bold {\\i nested}} text\\par\n{\\pard "),
                 testing::Bytes(std::string(padding, 'p')),
                 testing::Bytes("\\par}\n{\\*\\shppict{\\pict\\pngblip\\bin700 "), data,
                 testing::Bytes("}}\n\\pard \\{unbalanced in text\\par\n\\pard The end.\\par }")});
}

TEST(RtfCarving, HandWrittenRtfEndsAtItsClosingBraceWhereverTheSectorBoundaryFalls) {
  for (size_t padding = 0; padding < 512; ++padding) {
    const Bytes rtf = HandWrittenRtf(padding);
    // Braces and text after the file are not taken.
    const Bytes image = Concat({rtf, testing::Bytes("}}{\\rtf1 more}"), Bytes(600, 0)});
    CarveHarness h(image);
    CarveRtf(h);
    ASSERT_EQ(h.OnlyFile(), rtf) << "padding " << padding;
    ASSERT_FALSE(h.engine.is_open());
  }
}

// Writers and editors end the file with a line end after the closing brace, also where the
// brace is the last byte of a sector.
TEST(RtfCarving, TheLineEndAfterTheClosingBraceBelongsToTheFile) {
  const size_t at_sector_end = (512 - HandWrittenRtf(0).size() % 512) % 512;
  for (const char* line_end : {"\n", "\r\n", "\r"}) {
    for (size_t padding : {size_t{0}, at_sector_end, at_sector_end + 511}) {
      const Bytes rtf = Concat({HandWrittenRtf(padding), testing::Bytes(line_end)});
      CarveHarness h(Concat({rtf, testing::Bytes("{\\rtf1 more}"), Bytes(600, 0)}));
      CarveRtf(h);
      ASSERT_EQ(h.OnlyFile(), rtf) << "padding " << padding;
    }
  }
}

TEST(RtfCarving, LibreOfficeRtfComesBackExact) {
  if (!testing::HaveTool("soffice")) GTEST_SKIP() << "LibreOffice is not installed";
  const Bytes rtf = testing::MakeWithTool(
      "printf '<html><body><h1>Title {braces} \\\\ back</h1><p>Some <b>bold <i>nested</i></b> "
      "text.</p><table border=\"1\"><tr><td>a</td><td>b</td></tr></table></body></html>' "
      "> in.html && HOME=\"$PWD\" soffice --headless --convert-to 'rtf:Rich Text Format' in.html "
      ">/dev/null 2>&1 "
      "&& mv in.rtf out");
  ASSERT_GT(rtf.size(), 1000u);
  ASSERT_NE(std::search(rtf.begin(), rtf.end(), std::begin("\\{"), std::end("\\{") - 1), rtf.end())
      << "LibreOffice escapes the braces of the text";
  const Bytes image = Concat({rtf, BinaryData(3000)});
  CarveHarness h(image);
  CarveRtf(h);
  h.ExpectKept(rtf);
}

TEST(RtfCarving, SampleRtfComesBackExact) {
  const std::string samples = testing::SamplesDir();
  if (samples.empty()) GTEST_SKIP() << "shared samples folder missing";
  const Bytes rtf = testing::ReadFileBytes(samples + "/exiftool-t-images/RTF.rtf");
  ASSERT_FALSE(rtf.empty());
  CarveHarness h(Concat({rtf, Bytes(100, 0)}));
  CarveRtf(h);
  h.ExpectKept(rtf);
}

TEST(RtfCarving, BytesThatAreNotRtfTextAreRefusedAtOnce) {
  const struct {
    const char* what;
    Bytes bytes;
  } cases[] = {
      {"zeros after the header", Concat({testing::Bytes("{\\rtf1\\ansi "), Bytes(2000, 0)})},
      {"random bytes after the header", Concat({testing::Bytes("{\\rtf1"), BinaryData(2000)})},
      {"a control character in text", testing::Bytes("{\\rtf1 text\x01 more}")},
  };
  for (const auto& c : cases) {
    Bytes image = c.bytes;
    image.resize(4096, 0);
    CarveHarness h(image);
    h.Carve(StartRtf(), "RTF", 0, 1, false);  // the header sector alone
    h.ExpectNothingKept();
  }
}

TEST(RtfCarving, ABalancedGroupWithoutCharacterSetIsNotKept) {
  // What random bytes after a header can make: braces balanced, no document header.
  CarveHarness h(Concat({testing::Bytes("{\\rtf1 {x}\\b y}"), Bytes(600, 0)}));
  CarveRtf(h);
  h.ExpectNothingKept();
}

// --- Bad input ---------------------------------------------------------------------------

TEST(RtfCarving, AMillionUnmatchedBracesAreNotKept) {
  // The group never closes before the source ends: the file is dropped.
  const Bytes image = Concat({testing::Bytes("{\\rtf1"), Bytes(1000000, '{')});
  CarveHarness h(image);
  CarveRtf(h);
  h.engine.Finish();
  h.ExpectNothingKept();
}

TEST(RtfCarving, AGroupOpenAtTheSafetyBoundIsRefused) {
  Bytes sector(512, '{');
  MemorySource source(sector);
  std::vector<uint8_t> window(kLookBehind + 512 + kLookAhead, '{');
  SectorInput in;
  in.data = window.data() + kLookBehind;
  RtfState state;
  state.depth = 1;
  const CarveView below{in, source, kRtfSizeCap - 512, kAllFileTypesMask};
  EXPECT_EQ(FeedRtf(state, below).step, Step::kMore);
  EXPECT_EQ(state.depth, 513u);
  const CarveView at_bound{in, source, kRtfSizeCap, kAllFileTypesMask};
  EXPECT_EQ(FeedRtf(state, at_bound).step, Step::kRefuse);
}

TEST(RtfCarving, BinaryDataCountIsSkippedAcrossSectors) {
  // \bin of 5000 bytes of braces: all of them are data, the brace after them ends the file.
  const Bytes rtf = Concat(
      {testing::Bytes("{\\rtf1\\ansi{\\pict\\bin5000 "), Bytes(5000, '{'), testing::Bytes("}}")});
  CarveHarness h(Concat({rtf, Bytes(512, 0)}));
  CarveRtf(h);
  h.ExpectKept(rtf);
}

}  // namespace
}  // namespace kestrel
