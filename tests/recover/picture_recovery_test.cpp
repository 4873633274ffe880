// GIF, RTF and TIFF recovery by the raw scan: files written by GraphicsMagick, libtiff's tiffcp,
// LibreOffice and by hand (nested groups, escaped braces, \bin data), laid among zeros, random
// bytes and files of other types, come back byte for byte; random bytes with their headers
// planted give none; endless sub-block chains and unmatched braces give none.

#include <random>

#include "support/byte_strings.h"
#include "support/fixture_samples.h"
#include "support/image_builder.h"
#include "support/memory_scan.h"

namespace kestrel {
namespace {

using testing::Concat;
using testing::Filler;
using testing::ImageBuilder;
using Bytes = std::vector<uint8_t>;

constexpr uint64_t kPictureSector = ImageBuilder::kSectorBytes;
constexpr TypeSet kPictureTypes = TypeBit(kGif) | TypeBit(kRtf) | TypeBit(kTif);

// An RTF with nested groups, escaped braces and a \bin picture whose data holds braces and NULs.
Bytes HandWrittenRtf() {
  Bytes data(3000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 53 + 1);
  return Concat(
      {testing::Bytes("{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}{\\info{\\title \\{x\\}}}\n"
                      "\\pard{\\b bold {\\i nested}}\\par\n{\\*\\shppict{\\pict\\bin3000 "),
       data, testing::Bytes("}}\n\\pard \\\\ \\{ The end.\\par }")});
}

struct Pictures {
  std::vector<Bytes> files;  // in the order laid
  bool complete = false;
};

Pictures MakePictures() {
  Pictures p;
  const bool tools = testing::HaveTool("gm") && testing::HaveTool("tiffcp");
  if (!tools) return p;
  p.files = {
      testing::MakeWithTool("gm convert -delay 10 -size 160x100 plasma: -size 160x100 "
                            "gradient:blue-white -size 160x100 xc:green -loop 0 gif:out"),
      testing::MakeWithTool("gm convert -size 90x70 plasma: gif:out"),
      testing::MakeWithTool("gm convert -size 250x180 plasma: a.tif && tiffcp -t a.tif out"),
      testing::MakeWithTool("gm convert -size 200x100 plasma: -size 80x60 gradient: tif:out"),
      testing::MakeWithTool(
          "gm convert -size 180x120 plasma: a.tif && tiffcp -B -s -r 9 a.tif out"),
      HandWrittenRtf(),
  };
  if (testing::HaveTool("soffice")) {
    p.files.push_back(testing::MakeWithTool(
        "printf '<html><body><h1>Heading {x}</h1><p>A <b>bold <i>nested</i></b> line.</p>"
        "</body></html>' > in.html && HOME=\"$PWD\" soffice --headless --convert-to "
        "'rtf:Rich Text Format' in.html >/dev/null 2>&1 && mv in.rtf out"));
  }
  p.complete = true;
  for (const Bytes& file : p.files) p.complete = p.complete && file.size() > 500;
  return p;
}

TEST(PictureRecovery, ToolFilesAmongZerosRandomBytesAndOtherFilesComeBackExact) {
  const Pictures p = MakePictures();
  if (p.files.empty()) GTEST_SKIP() << "gm or tiffcp is not installed";
  ASSERT_TRUE(p.complete) << "a tool wrote no file";
  for (Filler filler : {Filler::kZeros, Filler::kRandom}) {
    SCOPED_TRACE(filler == Filler::kZeros ? "zeros" : "random");
    // A line end right after an RTF's closing brace belongs to the RTF, so the ends of the
    // files' last sectors hold no CR or LF (the tool files' sizes vary from run to run, and
    // with them which random bytes would follow each file).
    const Filler tail = filler == Filler::kRandom ? Filler::kRandomNoEndMarkers : filler;
    ImageBuilder image;
    std::vector<Bytes> expected;
    uint64_t seed = 31;
    for (const Bytes& file : p.files) {
      image.AddRandom(2, seed++, filler);
      image.AddFile(file, {}, tail);
      expected.push_back(file);
      // Another type's file right behind it, and one of these types.
      image.AddSample("picture.png", tail);
      const char* sample = seed % 2 == 0 ? "picture.gif" : "document.rtf";
      image.AddSample(sample, tail);
      expected.push_back(testing::ReadFixtureSample(sample));
    }
    EXPECT_EQ(testing::CarvedBytes(image.bytes(), kPictureTypes), expected);
  }
}

// Random bytes in which GIF, RTF and TIFF headers start many sectors (a TIFF header naming a
// first IFD inside the image), the rest random.
Bytes RandomWithPictureStarts(uint64_t bytes, uint64_t seed) {
  std::mt19937_64 random(seed);
  Bytes image(bytes);
  for (size_t i = 0; i + 8 <= image.size(); i += 8) {
    const uint64_t value = random();
    for (size_t k = 0; k < 8; ++k) image[i + k] = static_cast<uint8_t>(value >> (8 * k));
  }
  const std::string headers[] = {"GIF89a", "GIF87a", "{\\rtf1", std::string("II*\0", 4),
                                 std::string("MM\0*", 4)};
  uint64_t n = 0;
  for (uint64_t sector = 0; sector < bytes / kPictureSector; sector += 1 + random() % 31, ++n) {
    uint8_t* at = image.data() + sector * kPictureSector;
    const std::string& header = headers[n % std::size(headers)];
    std::copy(header.begin(), header.end(), at);
    if (header[0] == 'I' || header[0] == 'M') {
      const uint32_t ifd = static_cast<uint32_t>(8 + random() % (1u << 20));
      for (int k = 0; k < 4; ++k) {
        at[4 + k] = static_cast<uint8_t>(header[0] == 'I' ? ifd >> (8 * k) : ifd >> (24 - 8 * k));
      }
    }
  }
  return image;
}

TEST(PictureRecovery, RandomBytesGiveNoGifRtfOrTiff) {
  const Bytes image = RandomWithPictureStarts(uint64_t{16} << 20, 20261209);
  std::vector<std::string> kept;
  for (const auto& file : testing::CarveInMemory(image, kPictureTypes)) {
    kept.push_back(file.name + " of " + std::to_string(file.bytes.size()) + " bytes");
  }
  EXPECT_EQ(kept, std::vector<std::string>{});
}

// --- Bad input ---------------------------------------------------------------------------

TEST(PictureRecovery, EndlessSubBlocksAndUnmatchedBracesGiveNothing) {
  // A GIF whose image data is one chain of full sub-blocks to the source's end.
  Bytes gif = {'G', 'I',  'F', '8', '9', 'a', 8, 0, 8, 0, 0, 0,
               0,   0x2C, 0,   0,   0,   0,   8, 0, 8, 0, 0, 2};
  gif.resize(uint64_t{6} << 20, 0xFF);
  // An RTF of a million "{" and text that never closes them.
  Bytes rtf = Concat({testing::Bytes("{\\rtf1"), Bytes(1000000, '{')});
  for (int i = 0; i < 2000; ++i) rtf.insert(rtf.end(), {'t', 'e', 'x', 't', '}', ' '});
  for (const Bytes* file : {&gif, &rtf}) {
    ImageBuilder image;
    image.AddFile(*file);
    EXPECT_TRUE(testing::CarvedBytes(image.bytes(), kPictureTypes).empty());
  }
}

}  // namespace
}  // namespace kestrel
