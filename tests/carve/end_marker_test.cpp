// End-marker carving: real files end exactly after their end sequence, also when it runs into
// the next sector; look-alikes and filler do not end them; files without an end are not kept.

#include "carve/formats/end_marker.h"

#include "support/carve_harness.h"

namespace kestrel {
namespace {

using testing::MakeWithTool;

// Opens a file of `kind` and feeds `image` from sector 0 while the file stays open.
uint64_t Carve(CarveHarness& h, EndMarkerKind kind, const char* extension, const Bytes& image) {
  h.source.bytes() = image;
  return h.Carve(EndMarkerState{kind}, extension, 0, ~uint64_t{0}, false);
}

// --- PNG ---------------------------------------------------------------------------------

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
Bytes PaddedPng(const Bytes& png, size_t size) {
  if (size < png.size() + 12) return {};
  const uint32_t length = static_cast<uint32_t>(size - png.size() - 12);
  auto chunk = Concat({testing::Be32Bytes(length), testing::Bytes("kePd")});
  chunk.resize(8 + length, 'p');
  const uint32_t crc = Crc32(chunk.data() + 4, 4 + length);
  chunk = Concat({chunk, testing::Be32Bytes(crc)});
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

  EXPECT_EQ(Carve(h, EndMarkerKind::kPng, "PNG", Concat({png, Filler(2000)})), sectors);

  h.ExpectKept(png);
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
    Carve(h, EndMarkerKind::kAsx, "ASX", Concat({asx, testing::Bytes("\r\n"), Filler(600)}));
    h.ExpectKept(asx);
  }
}

TEST(EndMarker, CompoundDocumentWithoutFullSignatureEndsAfterItsMark) {
  const auto doc =
      Concat({{0xD0, 0xCF, 0x11, 0xE0, 0, 0, 0, 0}, Filler(900), {0xF4, 0x39, 0xB2, 0x71}});
  CarveHarness h;
  Carve(h, EndMarkerKind::kOleFragment, "DOC", Concat({doc, Filler(600)}));
  h.ExpectKept(doc);
}

}  // namespace
}  // namespace kestrel
