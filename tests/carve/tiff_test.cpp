#include "carve/formats/tiff.h"

#include <algorithm>
#include <ostream>

#include "support/carve_harness.h"
#include "support/param_names.h"
#include "support/structured_fixtures.h"
#include "support/tiff_builder.h"

namespace kestrel {
namespace {

using testing::ImageWithFileAt;
using testing::StartsWith;
using testing::StructuredSample;
using testing::TiffBuilder;

constexpr uint64_t kTiffSector = 3;

// How the dispatch opens the file: the row's extension and the start values it gives.
struct TiffOpen {
  const char* extension = "TIF";
  TiffStart start;
};

// Opens the file as the dispatch does at `first` and feeds the following sectors while it is
// open; then the end of the image finishes a file still open, as the scan's end does. Returns
// whether the file ended by itself before that: measured and taken whole, or refused.
bool CarveTiff(CarveHarness& h, const TiffOpen& open = {}, uint64_t first = kTiffSector) {
  TiffState state =
      h.StartAt(first, [&](const CarveView& view) { return StartTiff(view, open.start); });
  h.Carve(state, open.extension, first, std::numeric_limits<uint64_t>::max(),
          /*finish_at_end=*/false);
  const bool ended = !h.engine.is_open();
  h.engine.Finish();
  return ended;
}

// A camera file as makers lay it out: IFD0 with a small uncompressed preview strip, Make and
// Model, SubIFDs holding the raw image, an Exif IFD with a maker note, IFD1 with a JPEG
// thumbnail; a half-size image and the raw data come last. Its estimate is the end of the raw data
// plus the sizes of the sub-IFD and of IFD1 with its thumbnail (the chain after IFD0 is added as
// sizes).
Bytes CameraFile(bool big_endian, const std::string& make, uint16_t ifd0_compression = 1,
                 bool with_raw = true) {
  TiffBuilder b(big_endian);
  const int ifd0 = b.AddIfd();
  const int raw_ifd = with_raw ? b.AddIfd() : -1;
  const int exif = b.AddIfd();
  const int ifd1 = b.AddIfd();
  const int preview = b.AddBlock(testing::PatternBytes(600, 1));
  const int maker_note = b.AddBlock(testing::PatternBytes(300, 2));
  const int thumb = b.AddBlock(testing::PatternBytes(700, 3));
  b.Long(ifd0, 254, {1});
  b.Short(ifd0, 256, {20});
  b.Short(ifd0, 257, {10});
  b.Short(ifd0, 259, {ifd0_compression});
  b.Ascii(ifd0, 271, make);
  b.Ascii(ifd0, 272, make + " TEST-1");
  b.Strips(ifd0, {preview});
  b.Rational(ifd0, 282, 300, 1);
  b.Ascii(ifd0, 306, "2024:01:02 03:04:05");
  b.ExifIfd(ifd0, exif);
  b.Next(ifd0, ifd1);
  if (with_raw) {
    const int half_ifd = b.AddIfd();
    const int half = b.AddBlock(testing::PatternBytes(1200, 10));
    const int raw = b.AddBlock(testing::PatternBytes(5000, 4));
    b.SubIfds(ifd0, {half_ifd, raw_ifd});
    b.Long(raw_ifd, 254, {0});
    b.Short(raw_ifd, 259, {1});
    b.Strips(raw_ifd, {raw});
    b.Long(half_ifd, 254, {1});
    b.Short(half_ifd, 259, {1});
    b.Strips(half_ifd, {half});
  }
  b.Rational(exif, 33434, 1, 250);
  b.MakerNote(exif, maker_note);
  b.Short(ifd1, 259, {6});
  b.Thumbnail(ifd1, thumb);
  return b.Build();
}

// A plain file: one IFD with its strips, and a Make when given.
Bytes SimpleFile(bool big_endian, const std::string& make = "", uint8_t magic_first = 0,
                 uint8_t magic_second = 0) {
  TiffBuilder b(big_endian);
  if (magic_first != 0) b.SetMagicBytes(magic_first, magic_second);
  const int ifd0 = b.AddIfd();
  const int s1 = b.AddBlock(testing::PatternBytes(1000, 5));
  const int s2 = b.AddBlock(testing::PatternBytes(1000, 6));
  b.Short(ifd0, 256, {50});
  b.Short(ifd0, 257, {40});
  b.Short(ifd0, 259, {1});
  if (!make.empty()) b.Ascii(ifd0, 271, make);
  b.Strips(ifd0, {s1, s2});
  return b.Build();
}

// ---------------------------------------------------------------------------------------------
// Files made by GraphicsMagick come back whole under a TIF name.

// Files made by GraphicsMagick and libtiff's tiffcp: tiled (no strips at all), several pages
// (a chain of IFDs), strips; each ends at its furthest referenced byte, before random bytes.
struct ToolTiff {
  const char* what;
  const char* command;  // writes "out"
};

void PrintTo(const ToolTiff& tiff, std::ostream* out) {
  *out << tiff.what;
}

class ToolMadeTiff : public ::testing::TestWithParam<ToolTiff> {};

TEST_P(ToolMadeTiff, ComesBackByteForByte) {
  if (!testing::HaveTool("gm") || !testing::HaveTool("tiffcp")) {
    GTEST_SKIP() << "gm or tiffcp is not installed";
  }
  const Bytes original = testing::MakeWithTool(GetParam().command);
  ASSERT_GT(original.size(), 1000u) << GetParam().what;
  Bytes image = ImageWithFileAt(original, kTiffSector, 0);
  for (size_t i = 0; i < 20000; ++i) image.push_back(static_cast<uint8_t>(i * 151 + 3));
  CarveHarness h(image);
  EXPECT_TRUE(CarveTiff(h));
  h.ExpectKept(original, "KES00001.TIF");
}

INSTANTIATE_TEST_SUITE_P(
    Tools, ToolMadeTiff,
    ::testing::Values(ToolTiff{"gm tiles",
                               "gm convert -size 300x200 plasma: -define tiff:tile-geometry=64x64 "
                               "tif:out"},
                      ToolTiff{"tiffcp tiles",
                               "gm convert -size 200x150 plasma: a.tif && tiffcp -t -w 32 -l "
                               "32 a.tif out"},
                      ToolTiff{"tiffcp compressed tiles",
                               "gm convert -size 200x150 plasma: a.tif && tiffcp "
                               "-t -c lzw a.tif out"},
                      ToolTiff{"gm pages",
                               "gm convert -size 120x80 plasma: -size 90x60 gradient: "
                               "-size 50x50 xc:red tif:out"},
                      ToolTiff{"tiffcp big-endian strips",
                               "gm convert -size 160x90 plasma: a.tif && tiffcp "
                               "-B -s -r 7 a.tif out"}),
    [](const auto& param_info) { return testing::ReadableTestName(param_info.param.what); });

// ---------------------------------------------------------------------------------------------
// Camera makers: the file is renamed to the maker's extension, in both byte orders.

struct MakerCase {
  const char* make;
  bool big_endian;
  bool kodak_dc;
  const char* name;
  uint8_t counted;
  uint64_t least_over;  // what the measure adds beyond the file's last referenced byte, at least
  uint64_t most_over;   // and at most
};

class CameraMaker : public ::testing::TestWithParam<MakerCase> {};

TEST_P(CameraMaker, EndsUnderTheMakersExtension) {
  const MakerCase& c = GetParam();
  const Bytes original = CameraFile(c.big_endian, c.make);
  CarveHarness h(ImageWithFileAt(original, kTiffSector, 16384));
  TiffOpen open;
  open.start.kodak_dc = c.kodak_dc;
  EXPECT_TRUE(CarveTiff(h, open));
  ASSERT_EQ(h.Files(), std::vector<std::string>{c.name});
  const Bytes carved = h.FileBytes(c.name);
  EXPECT_TRUE(StartsWith(carved, original));
  EXPECT_GE(carved.size(), original.size() + c.least_over);
  EXPECT_LE(carved.size(), original.size() + c.most_over);
  ASSERT_EQ(h.ui.rows.size(), 1u);
  EXPECT_EQ(h.ui.rows[0].name, c.name);
  EXPECT_EQ(h.ui.rows[0].bytes, carved.size());
}

INSTANTIATE_TEST_SUITE_P(
    Makers, CameraMaker,
    ::testing::Values(MakerCase{"NIKON CORPORATION", true, false, "KES00001.NEF", kNef, 0, 0},
                      MakerCase{"NIKON CORPORATION", false, false, "KES00001.NEF", kNef, 0, 0},
                      MakerCase{"SONY", false, false, "KES00001.SRF", kSrf, 0, 0},
                      MakerCase{"PENTAX Corporation", true, false, "KES00001.PEF", kPef, 0, 0},
                      // Kodak ends are rounded up to a sector and given 4096 bytes more.
                      MakerCase{"KODAK", true, false, "KES00001.DCR", kDcr, 4096, 4096 + 511},
                      MakerCase{"Kodak", false, true, "KES00001.KDC", kKdc, 4096, 4096 + 511}),
    [](const auto& param_info) {
      return testing::ReadableTestName(param_info.param.make) + "_" +
             std::to_string(param_info.index);
    });

// Files made by GraphicsMagick; a maker note that is the last block; a compressed IFD0, which
// forgets the maker, with the thumbnail of IFD1 last; chains that loop back, to themselves and to
// IFD0. (The camera files above end with the raw strip of a sub-IFD.)
TEST(Tiff, FileEndsAtItsLastReferencedByte) {
  TiffBuilder note(false);
  const int note_ifd0 = note.AddIfd();
  const int note_exif = note.AddIfd();
  const int note_strip = note.AddBlock(testing::PatternBytes(800, 1));
  note.Short(note_ifd0, 259, {1});
  note.Strips(note_ifd0, {note_strip});
  note.ExifIfd(note_ifd0, note_exif);
  note.MakerNote(note_exif, note.AddBlock(testing::PatternBytes(3000, 2)));
  TiffBuilder loops(false);
  const int ifd0 = loops.AddIfd();
  const int ifd1 = loops.AddIfd();
  const int exif = loops.AddIfd();
  const int sub = loops.AddIfd();
  loops.Short(ifd0, 259, {1});
  loops.Strips(ifd0, {loops.AddBlock(testing::PatternBytes(2000, 9))});
  loops.SubIfds(ifd0, {sub, sub, sub});
  loops.Next(ifd0, ifd1);
  loops.Next(ifd1, ifd0);  // the main chain loops back to the first IFD
  loops.ExifIfd(ifd1, exif);
  loops.Next(exif, exif);  // an IFD chained to itself
  loops.Short(sub, 259, {1});
  loops.Next(sub, sub);
  const struct {
    const char* what;
    Bytes original;
    const char* name;
  } kCases[] = {
      {"gm one_strip_le.tif", StructuredSample("one_strip_le.tif"), "KES00001.TIF"},
      {"gm strips_be.tif", StructuredSample("strips_be.tif"), "KES00001.TIF"},
      {"gm strips_le.tif", StructuredSample("strips_le.tif"), "KES00001.TIF"},
      {"maker note last", note.Build(), "KES00001.TIF"},
      {"compressed IFD0", CameraFile(false, "SONY", /*ifd0_compression=*/6, /*with_raw=*/false),
       "KES00001.TIF"},
      {"looping chains", loops.Build(), "KES00001.TIF"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    ASSERT_FALSE(c.original.empty());
    CarveHarness h(ImageWithFileAt(c.original, kTiffSector, 16384));
    EXPECT_TRUE(CarveTiff(h));
    h.ExpectKept(c.original, c.name);
  }
}

TEST(Tiff, OrfWithRsHeaderIsWrittenBeyondItsEstimateAndAlwaysKept) {
  // The estimate of a one-IFD file is its exact length; the RS variant adds 5584 bytes.
  const Bytes original = SimpleFile(false, "OLYMPUS IMAGING CORP.", 'R', 'S');
  Bytes image = ImageWithFileAt(original, kTiffSector, 16384);
  for (size_t i = kTiffSector * 512 + original.size(); i < image.size(); ++i) {
    image[i] = static_cast<uint8_t>(i * 7);
  }
  CarveHarness h(image, TypeBit(kOrf));
  TiffOpen open;
  open.extension = "ORF";
  open.start.orf_name = true;
  open.start.always_keep = true;
  EXPECT_TRUE(CarveTiff(h, open));
  ASSERT_EQ(h.Files(), std::vector<std::string>{"KES00001.ORF"});
  const Bytes carved = h.FileBytes("KES00001.ORF");
  ASSERT_EQ(carved.size(), original.size() + 5584);
  EXPECT_TRUE(std::equal(carved.begin(), carved.end(), image.begin() + kTiffSector * 512));
}

TEST(Tiff, RenamingNeverTakesAnExistingFilesName) {
  CarveHarness h(ImageWithFileAt(CameraFile(true, "NIKON CORPORATION"), kTiffSector, 16384));
  testing::WriteFileBytes(h.dir / "KES00001.NEF", {'k', 'e', 'e', 'p'});
  EXPECT_TRUE(CarveTiff(h));
  ASSERT_EQ(h.Files(), (std::vector<std::string>{"KES00001.NEF", "KES00002.NEF"}));
  EXPECT_EQ(h.FileBytes("KES00001.NEF"), (Bytes{'k', 'e', 'e', 'p'}));
}

TEST(Tiff, FilesOfOneRunAreNumberedPerExtension) {
  const Bytes nikon = CameraFile(true, "NIKON CORPORATION");
  const Bytes sony = CameraFile(false, "SONY");
  Bytes image = ImageWithFileAt(nikon, kTiffSector, 16384);
  const uint64_t sony_sector = image.size() / 512;
  const Bytes second = ImageWithFileAt(sony, 0, 16384);
  image.insert(image.end(), second.begin(), second.end());
  const uint64_t third_sector = image.size() / 512;
  image.insert(image.end(), second.begin(), second.end());
  CarveHarness h(image);
  EXPECT_TRUE(CarveTiff(h));
  EXPECT_TRUE(CarveTiff(h, {}, sony_sector));
  EXPECT_TRUE(CarveTiff(h, {}, third_sector));
  EXPECT_EQ(h.Files(), (std::vector<std::string>{"KES00001.NEF", "KES00001.SRF", "KES00002.SRF"}));
  EXPECT_EQ(h.run.recovered_count(), 3u);
}

// ---------------------------------------------------------------------------------------------
// Real camera files from the shared samples.

// Camera files come back exactly: their furthest referenced byte is their last.
TEST(TiffSamples, CameraFilesComeBackWhole) {
  const std::string dir = testing::SamplesDir();
  if (dir.empty()) GTEST_SKIP() << "shared samples folder missing";
  for (const auto& [file, name] :
       {std::pair{"Nikon.nef", "KES00001.NEF"}, std::pair{"ExifTool.tif", "KES00001.TIF"}}) {
    SCOPED_TRACE(file);
    const Bytes original = testing::ReadFileBytes(dir + "/exiftool-t-images/" + file);
    ASSERT_FALSE(original.empty());
    CarveHarness h(ImageWithFileAt(original));
    EXPECT_TRUE(CarveTiff(h));
    h.ExpectKept(original, name);
  }
}

// ---------------------------------------------------------------------------------------------
// Bad input: bounded walks, nothing read outside the source, nothing listed that is not whole.

// Builds a one-IFD file with one broken entry added.
Bytes FileWithEntry(bool big_endian, uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
  TiffBuilder b(big_endian);
  const int ifd0 = b.AddIfd();
  const int strip = b.AddBlock(testing::PatternBytes(1500, 8));
  b.Short(ifd0, 259, {1});
  b.Strips(ifd0, {strip});
  b.RawEntry(ifd0, tag, type, count, value);
  return b.Build();
}

struct BrokenEntry {
  const char* what;
  uint16_t tag, type;
  uint32_t count, value;
};

class TiffRefused : public ::testing::TestWithParam<BrokenEntry> {};

TEST_P(TiffRefused, FileIsDeletedAtOnce) {
  const BrokenEntry& e = GetParam();
  for (bool big : {false, true}) {
    CarveHarness h(ImageWithFileAt(FileWithEntry(big, e.tag, e.type, e.count, e.value)));
    EXPECT_TRUE(CarveTiff(h)) << e.what;
    h.ExpectNothingKept();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Entries, TiffRefused,
    ::testing::Values(BrokenEntry{"text of 2^32-1 bytes", 270, 2, 0xFFFFFFFFu, 200},
                      BrokenEntry{"2^32-1 rationals", 282, 5, 0xFFFFFFFFu, 200},
                      BrokenEntry{"Make text beyond the source", 271, 2, 40, 0x7FFFFF00u},
                      BrokenEntry{"strip counts array of 2^32-1 entries", 279, 4, 0xFFFFFFFFu, 300},
                      BrokenEntry{"strip counts array beyond the source", 279, 4, 6, 0xFFFFFF00u}),
    [](const auto& param_info) { return testing::ReadableTestName(param_info.param.what); });

TEST(TiffBadInput, FirstIfdBeyondTheSourceIsRefusedAtOnce) {
  Bytes header = {'I', 'I', 42, 0, 0x00, 0x00, 0x00, 0x40};  // IFD at 1 GiB
  CarveHarness h(ImageWithFileAt(header));
  TiffState state =
      h.StartAt(kTiffSector, [](const CarveView& view) { return StartTiff(view, {}); });
  // The header sector alone: the file is gone before the next sector comes.
  h.Carve(state, "TIF", kTiffSector, kTiffSector + 1, /*finish_at_end=*/false);
  h.ExpectNothingKept();
}

// Refused when measured: the file closes at once instead of guarding the sectors after it.
TEST(TiffBadInput, FilesThatCannotBeWholeOrAreNotSelectedAreRefused) {
  // The file's strip is cut off by the end of the source.
  const Bytes whole = SimpleFile(true, "NIKON");
  ASSERT_GT(whole.size(), 700u);
  const Bytes cut(whole.begin(), whole.end() - 700);
  // 4000 entries announced and the source ends 100 bytes after the count; or no entry at all.
  Bytes cut_ifd = {'I', 'I', 42, 0, 8, 0, 0, 0, 0xA0, 0x0F};
  cut_ifd.resize(110, 0x11);
  Bytes empty_ifd = {'I', 'I', 42, 0, 8, 0, 0, 0, 0, 0};
  empty_ifd.resize(110, 0);
  const struct {
    const char* what;
    Bytes image;
    TypeSet selected;
  } kCases[] = {
      {"plain TIFF, TIF not selected", ImageWithFileAt(StructuredSample("strips_le.tif")),
       kAllFileTypesMask & ~TypeBit(kTif)},
      {"Nikon file, NEF not selected",
       ImageWithFileAt(CameraFile(false, "NIKON CORPORATION"), kTiffSector, 16384),
       kAllFileTypesMask & ~TypeBit(kNef)},
      // 2^32-1 LONG offsets: their own size (16 GiB) reaches past the source.
      {"sub-IFD entry of absurd count",
       ImageWithFileAt(FileWithEntry(true, 330, 4, 0xFFFFFFFFu, 0x100), kTiffSector, 8192),
       kAllFileTypesMask},
      {"estimate past the source's end", ImageWithFileAt(cut, kTiffSector, 0), kAllFileTypesMask},
      {"first IFD cut by the source's end", Concat({Bytes(kTiffSector * 512, 0), cut_ifd}),
       kAllFileTypesMask},
      {"first IFD without entries", Concat({Bytes(kTiffSector * 512, 0), empty_ifd}),
       kAllFileTypesMask},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    CarveHarness h(c.image, c.selected);
    EXPECT_TRUE(CarveTiff(h));
    h.ExpectNothingKept();
  }
}

}  // namespace
}  // namespace kestrel
