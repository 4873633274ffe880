// End-marker carving: real files end exactly after their end sequence, also when it runs into
// the next sector; look-alikes and filler do not end them; files without an end are not kept.

#include "carve/formats/end_marker.h"

#include <gtest/gtest.h>

#include "support/carve_harness.h"

namespace kestrel {
namespace {

using testing::CarveHarness;
using testing::Concat;
using testing::Filler;
using testing::MakeWithTool;

struct Type {
  EndMarkerKind kind;
  const char* extension;
};

constexpr Type kAsxType{EndMarkerKind::kAsx, "ASX"};
constexpr Type kPngType{EndMarkerKind::kPng, "PNG"};
constexpr Type kDocType{EndMarkerKind::kOleFragment, "DOC"};

// Opens a file of `type` and feeds `image` from sector 0 while the file stays open.
uint64_t Carve(CarveHarness& h, const Type& type, const std::vector<uint8_t>& image) {
  h.source.bytes() = image;
  return h.Carve(EndMarkerState{type.kind}, type.extension, 0, ~uint64_t{0}, false);
}

void ExpectListed(CarveHarness& h, const Type&, const std::vector<uint8_t>& expected) {
  EXPECT_EQ(h.OnlyFile(), expected);
  ASSERT_EQ(h.ui.rows.size(), 1u);
  EXPECT_EQ(h.ui.rows[0].bytes, expected.size());
  EXPECT_FALSE(h.engine.is_open());
}

// --- PNG ---------------------------------------------------------------------------------

std::vector<uint8_t> Be32Bytes(uint32_t v) {
  return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}

uint32_t Crc32(const uint8_t* p, size_t n) {
  uint32_t c = 0xFFFFFFFFu;
  for (size_t k = 0; k < n; ++k) {
    c ^= p[k];
    for (int bit = 0; bit < 8; ++bit) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
  }
  return ~c;
}

// The PNG with a private ancillary chunk after IHDR that makes it `size` bytes long; decoders
// skip such chunks, so it stays a valid picture.
std::vector<uint8_t> PaddedPng(const std::vector<uint8_t>& png, size_t size) {
  if (size < png.size() + 12) return {};
  const uint32_t length = static_cast<uint32_t>(size - png.size() - 12);
  auto chunk = Concat({Be32Bytes(length), testing::Bytes("kePd")});
  chunk.resize(8 + length, 'p');
  const uint32_t crc = Crc32(chunk.data() + 4, 4 + length);
  chunk = Concat({chunk, Be32Bytes(crc)});
  const auto after_ihdr = png.begin() + 33;
  return Concat({{png.begin(), after_ihdr}, chunk, {after_ihdr, png.end()}});
}

TEST(EndMarker, PngWhoseIendStraddlesTwoSectorsEndsAfterItsCrc) {
  if (!testing::HaveTool("gm")) GTEST_SKIP() << "gm is not installed";
  testing::TempDir work;
  const auto plain = MakeWithTool("gm convert -size 40x30 plasma: png:out");
  ASSERT_FALSE(plain.empty());
  // "IEND" in the last 4 bytes of a sector, its CRC in the next one.
  const size_t sectors = (plain.size() + 12 + 511) / 512;
  const auto png = PaddedPng(plain, sectors * 512 + 4);
  testing::WriteFileBytes(work / "padded.png", png);
  ASSERT_EQ(testing::RunCommand("gm identify '" + (work / "padded.png") + "' >/dev/null"), 0);
  CarveHarness h;

  EXPECT_EQ(Carve(h, kPngType, Concat({png, Filler(2000)})), sectors);

  ExpectListed(h, kPngType, png);
}

// --- ASX and compound documents ----------------------------------------------------------

TEST(EndMarker, AsxEndsAfterItsClosingTagInEitherCase) {
  for (std::string_view close : {"</ASX>", "</asx>"}) {
    SCOPED_TRACE(close);
    std::string text = "<ASX version=\"3.0\">\r\n";
    for (int k = 0; k < 20; ++k)
      text += "<Entry><Ref href=\"http://example.org/clip.wmv\"/></Entry>\r\n";
    text += close;
    const auto asx = testing::Bytes(text);
    CarveHarness h;
    Carve(h, kAsxType, Concat({asx, testing::Bytes("\r\n"), Filler(600)}));
    ExpectListed(h, kAsxType, asx);
  }
}

TEST(EndMarker, CompoundDocumentWithoutFullSignatureEndsAfterItsMark) {
  const auto doc =
      Concat({{0xD0, 0xCF, 0x11, 0xE0, 0, 0, 0, 0}, Filler(900), {0xF4, 0x39, 0xB2, 0x71}});
  CarveHarness h;
  Carve(h, kDocType, Concat({doc, Filler(600)}));
  ExpectListed(h, kDocType, doc);
}

}  // namespace
}  // namespace kestrel
