#include "carve/formats/compound_doc.h"

#include <algorithm>

#include <cstring>

#include "support/carve_harness.h"
#include "support/param_names.h"
#include "support/structured_fixtures.h"
#include "support/tiff_builder.h"

namespace kestrel {
namespace {

using testing::ImageWithFileAt;
using testing::StructuredSample;

constexpr uint64_t kFileSector = 2;
constexpr uint32_t kFree = 0xFFFFFFFF;
constexpr uint32_t kEnd = 0xFFFFFFFE;

void Put32(Bytes& v, size_t at, uint32_t x) {
  for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(x >> (8 * i));
}

// A compound file of `sectors` file sectors after the header: FAT sectors first, then DIFAT
// sectors when the header's 109 entries do not suffice, then data. Every sector is marked used
// in the FAT, so the document is exactly header + `sectors` sectors long.
struct CompoundFile {
  Bytes bytes;
  uint32_t sector_bytes = 512;
  size_t SectorAt(uint64_t k) const { return sector_bytes * (k + 1); }
  void Text(uint64_t sector, size_t offset, const std::string& text) {
    std::memcpy(bytes.data() + SectorAt(sector) + offset, text.data(), text.size());
  }
};

CompoundFile MakeCompound(uint64_t sectors, uint16_t shift = 9, uint32_t mini_fat_count = 1) {
  CompoundFile f;
  f.sector_bytes = 1u << shift;
  const uint32_t per = f.sector_bytes / 4;
  uint64_t fat = 1, difat = 0;
  while (fat * per < sectors) ++fat;
  if (fat > 109) difat = (fat - 109 + per - 2) / (per - 1);
  f.bytes = testing::PatternBytes(f.sector_bytes * (sectors + 1), 3);
  std::fill(f.bytes.begin(), f.bytes.begin() + f.sector_bytes, uint8_t{0});
  const uint8_t signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  std::memcpy(f.bytes.data(), signature, 8);
  f.bytes[0x1A] = shift == 9 ? 3 : 4;
  f.bytes[0x1C] = 0xFE;
  f.bytes[0x1D] = 0xFF;
  f.bytes[0x1E] = static_cast<uint8_t>(shift);
  f.bytes[0x20] = 6;
  Put32(f.bytes, 0x2C, static_cast<uint32_t>(fat));
  Put32(f.bytes, 0x40, mini_fat_count);
  Put32(f.bytes, 0x44, difat ? static_cast<uint32_t>(fat) : kEnd);
  Put32(f.bytes, 0x48, static_cast<uint32_t>(difat));
  for (uint32_t i = 0; i < 109; ++i) Put32(f.bytes, 0x4C + 4 * i, i < fat ? i : kFree);
  // DIFAT sectors list the FAT sectors after the first 109, then the next DIFAT sector.
  for (uint64_t d = 0; d < difat; ++d) {
    const size_t at = f.SectorAt(fat + d);
    for (uint32_t j = 0; j + 1 < per; ++j) {
      const uint64_t listed = 109 + d * (per - 1) + j;
      Put32(f.bytes, at + 4 * j, listed < fat ? static_cast<uint32_t>(listed) : kFree);
    }
    Put32(f.bytes, at + 4 * (per - 1), d + 1 < difat ? static_cast<uint32_t>(fat + d + 1) : kEnd);
  }
  for (uint64_t k = 0; k < fat * per; ++k) {
    const uint32_t entry = k >= sectors      ? kFree
                           : k < fat         ? 0xFFFFFFFD
                           : k < fat + difat ? 0xFFFFFFFC
                                             : kEnd;
    Put32(f.bytes, f.SectorAt(k / per) + 4 * (k % per), entry);
  }
  return f;
}

// Opens the document as the dispatch does (extension PPT), measured from its header, and feeds
// sectors while the file is open; the image's end finishes a file still open. Returns the
// measured length (0: not measurable).
uint64_t CarveCompound(CarveHarness& h, uint64_t first = kFileSector) {
  const CompoundState state =
      h.StartAt(first, [](const CarveView& view) { return StartCompound(view); });
  const uint64_t measured = state.unmeasurable ? 0 : state.left;
  h.Carve(state, "PPT", first);
  return measured;
}

// ---------------------------------------------------------------------------------------------
// Documents written by LibreOffice come back whole and under the name of their program.

struct SampleCase {
  const char* file;
  const char* name;
  uint8_t counted;
};

class OfficeDocument : public ::testing::TestWithParam<SampleCase> {};

// Kept under its program's extension, and dropped when only the other programs are selected.
TEST_P(OfficeDocument, ComesBackWholeUnderItsProgramsExtensionWhenSelected) {
  const SampleCase& c = GetParam();
  const Bytes original = StructuredSample(c.file);
  ASSERT_FALSE(original.empty()) << c.file;
  CarveHarness h(ImageWithFileAt(original, kFileSector, 4096));
  EXPECT_EQ(CarveCompound(h), original.size());
  h.ExpectKept(original, c.name);
  CarveHarness others(ImageWithFileAt(original, kFileSector, 4096),
                      (TypeBit(kDoc) | TypeBit(kXls) | TypeBit(kPpt)) & ~TypeBit(c.counted));
  CarveCompound(others);
  others.ExpectNothingKept();
}

INSTANTIATE_TEST_SUITE_P(LibreOffice, OfficeDocument,
                         ::testing::Values(SampleCase{"word.doc", "KES00001.DOC", kDoc},
                                           SampleCase{"excel.xls", "KES00001.XLS", kXls},
                                           // Seven FAT sectors (a large preview picture).
                                           SampleCase{"slides.ppt.gz", "KES00001.PPT", kPpt}),
                         [](const auto& param_info) {
                           return testing::ReadableTestName(param_info.param.file);
                         });

TEST(CompoundDoc, DocumentWithoutProgramTextIsKeptAsPptWhenPptIsSelected) {
  const CompoundFile f = MakeCompound(12);
  CarveHarness h(ImageWithFileAt(f.bytes, kFileSector, 4096), TypeBit(kPpt));
  CarveCompound(h);
  h.ExpectKept(f.bytes, "KES00001.PPT");
}

TEST(CompoundDoc, WorkbookWrittenWithoutTheProgramsNameIsXlsByItsStream) {
  std::string ignored;
  if (testing::RunCommand("/usr/bin/python3 -c 'import xlwt'", &ignored) != 0) {
    GTEST_SKIP() << "python3 module xlwt missing";
  }
  // xlwt names no program in the file's text: only its "Workbook" stream says what it is.
  const Bytes original = testing::MakeWithTool(
      "/usr/bin/python3 -c 'import xlwt; w = xlwt.Workbook(); "
      "w.add_sheet(\"s\").write(0, 0, \"Kestrel\"); w.save(\"out\")'");
  ASSERT_FALSE(original.empty());
  ASSERT_EQ(std::search(original.begin(), original.end(), std::begin("Microsoft Excel"),
                        std::end("Microsoft Excel") - 1),
            original.end());
  CarveHarness h(ImageWithFileAt(original, kFileSector, 4096));
  EXPECT_EQ(CarveCompound(h), original.size());
  h.ExpectKept(original, "KES00001.XLS");
}

TEST(CompoundDocSamples, FlashPixPresentationStaysPpt) {
  const std::string dir = testing::SamplesDir();
  if (dir.empty()) GTEST_SKIP() << "shared samples folder missing";
  const Bytes original = testing::ReadFileBytes(dir + "/exiftool-t-images/FlashPix.ppt");
  ASSERT_FALSE(original.empty());
  CarveHarness h(ImageWithFileAt(original, kFileSector, 4096));
  EXPECT_EQ(CarveCompound(h), original.size());
  h.ExpectKept(original, "KES00001.PPT");
}

// ---------------------------------------------------------------------------------------------
// Measuring from the header and the last FAT sector.

TEST(CompoundDoc, LengthIsMeasuredFromTheHeaderAndTheLastFatSector) {
  // 120 FAT sectors need one DIFAT sector; it names itself as the next one and claims a count
  // of 2^32-1 DIFAT sectors.
  CompoundFile looping = MakeCompound(119 * 128 + 5);
  Put32(looping.bytes, 0x48, 0xFFFFFFFF);
  Put32(looping.bytes, looping.SectorAt(120) + 4 * 127, 120);
  const struct {
    const char* what;
    CompoundFile file;
    uint64_t measured;
  } kCases[] = {
      // One mini FAT sector; the single FAT sector is file sector 0 and uses 40 entries.
      {"one FAT sector with 40 entries", MakeCompound(40), 512u * 41},
      {"a full FAT sector and 10 entries in the second", MakeCompound(128 + 10),
       512u * (128 + 10 + 1)},
      // The count of mini FAT sectors is no FAT sector number.
      {"three mini FAT sectors", MakeCompound(60, 9, /*mini_fat_count=*/3), 512u * 61},
      // 110 FAT sectors: the last one is listed in the DIFAT sector, not in the header.
      {"FAT sectors listed in a DIFAT sector", MakeCompound(109 * 128 + 200),
       512u * (109 * 128 + 200 + 1)},
      {"4 KiB sectors", MakeCompound(1024 + 30, 12), 4096u * (1024 + 30 + 1)},
      {"a DIFAT chain that loops", looping, 512u * (119 * 128 + 5 + 1)},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    CarveHarness h(ImageWithFileAt(c.file.bytes, kFileSector, 4096));
    EXPECT_EQ(CarveCompound(h), c.measured);
    h.ExpectKept(c.file.bytes, "KES00001.PPT");
  }
}

// Which program wrote it: text runs and the Word mark, wherever they fall; the text of the file
// after it does not count.
TEST(CompoundDoc, ProgramIsFoundInTheDocumentsOwnText) {
  CompoundFile crossing = MakeCompound(20);
  crossing.Text(5, 512 - 8, std::string("Microsoft Excel 2003") + '\0');
  CompoundFile word_mark = MakeCompound(20);
  const uint8_t mark[4] = {0xF4, 0x39, 0xB2, 0x71};
  std::memcpy(word_mark.bytes.data() + word_mark.SectorAt(7) + 100, mark, 4);
  CompoundFile later = MakeCompound(20);
  later.Text(3, 40, std::string("Microsoft Word 97") + '\0');
  later.Text(9, 40, std::string("Microsoft Office Excel 2003") + '\0');
  const CompoundFile plain = MakeCompound(20);
  Bytes text_after = ImageWithFileAt(plain.bytes, kFileSector, 4096);
  const std::string after = "Microsoft Excel";
  std::memcpy(text_after.data() + kFileSector * 512 + plain.bytes.size(), after.data(),
              after.size());
  const struct {
    const char* what;
    Bytes image;
    const char* name;
  } kCases[] = {
      {"text crossing a sector end", ImageWithFileAt(crossing.bytes, kFileSector, 4096),
       "KES00001.XLS"},
      {"the Word mark", ImageWithFileAt(word_mark.bytes, kFileSector, 4096), "KES00001.DOC"},
      {"a later sector decides", ImageWithFileAt(later.bytes, kFileSector, 4096), "KES00001.XLS"},
      {"text of the following file", text_after, "KES00001.PPT"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    CarveHarness h(c.image);
    CarveCompound(h);
    EXPECT_EQ(h.Files(), std::vector<std::string>{c.name});
  }
}

// Bad headers: nothing read outside the source, nothing listed that is not whole.
TEST(CompoundDocBadInput, UnmeasurableDocumentsAreDropped) {
  std::vector<std::pair<std::string, Bytes>> cases;
  auto add = [&](const std::string& what, const CompoundFile& f) {
    cases.emplace_back(what, ImageWithFileAt(f.bytes, kFileSector, 4096));
  };
  for (uint32_t count : {0xFFFFFFFFu, 0x01000000u, 0u}) {
    CompoundFile f = MakeCompound(20);
    Put32(f.bytes, 0x2C, count);
    add("FAT count " + std::to_string(count), f);
  }
  CompoundFile difat = MakeCompound(20);
  Put32(difat.bytes, 0x44, 0x7FFFFFF0);
  Put32(difat.bytes, 0x48, 1);
  add("DIFAT pointer far beyond the source", difat);
  CompoundFile last_fat = MakeCompound(20);
  Put32(last_fat.bytes, 0x4C, 0x00FFFFFF);
  add("last FAT sector beyond the source", last_fat);
  CompoundFile sector_size = MakeCompound(20);
  sector_size.bytes[0x1E] = 30;
  add("unknown sector size", sector_size);
  // The FAT is whole but the source ends inside the document.
  Bytes longer = ImageWithFileAt(MakeCompound(128 + 10).bytes, kFileSector, 0);
  longer.resize(longer.size() - 512 * 5);
  cases.emplace_back("document longer than the source", longer);
  const CompoundFile header = MakeCompound(20);
  cases.emplace_back(
      "header at the very end of the source",
      Concat({Bytes(kFileSector * 512, 0), {header.bytes.begin(), header.bytes.begin() + 512}}));
  for (const auto& [what, image] : cases) {
    SCOPED_TRACE(what);
    CarveHarness h(image);
    EXPECT_EQ(CarveCompound(h), 0u);
    h.ExpectNothingKept();
  }
}

}  // namespace
}  // namespace kestrel
