#include "carve/formats/zip.h"

#include <zlib.h>

#include "support/carve_harness.h"
#include "support/param_names.h"
#include "support/structured_fixtures.h"
#include "support/tiff_builder.h"

namespace kestrel {
namespace {

using testing::ImageWithFileAt;
using testing::StructuredSample;

constexpr uint64_t kFileSector = 2;

// Opens the archive as the dispatch does and feeds sectors while it is open; with
// `finish_at_end` the image's end finishes an archive still open, as the scan's end does.
void CarveArchive(CarveHarness& h, uint64_t first = kFileSector, uint64_t last = UINT64_MAX,
                  bool finish_at_end = true) {
  h.Carve(ZipState{}, "ZIP", first, last, finish_at_end);
}

// A stored one-member archive whose data is `data_bytes` long, with `comment`.
Bytes StoredArchive(size_t data_bytes, const std::string& comment) {
  const Bytes name = testing::Bytes("data.bin");
  const Bytes data = testing::PatternBytes(data_bytes, 12);
  const auto size = static_cast<uint32_t>(data_bytes);
  const auto crc = static_cast<uint32_t>(crc32(0, data.data(), static_cast<uInt>(data.size())));
  const auto name_size = static_cast<uint32_t>(name.size());
  Bytes z;
  // Little-endian fields of `width` bytes each.
  auto put = [&z](int width, std::initializer_list<uint32_t> values) {
    for (uint32_t v : values) {
      for (int k = 0; k < width; ++k) z.push_back(static_cast<uint8_t>(v >> (8 * k)));
    }
  };
  // Local header: version, flags, method, time, date; CRC and sizes; name and extra field
  // lengths.
  put(4, {0x04034B50});
  put(2, {10, 0, 0, 0, 0x5021});
  put(4, {crc, size, size});
  put(2, {name_size, 0});
  z = Concat({z, name, data});
  const auto central = static_cast<uint32_t>(z.size());
  // Central header: versions made by and needed, flags, method, time, date; CRC and sizes; name,
  // extra and comment lengths, disk, internal attributes; external attributes, local offset.
  put(4, {0x02014B50});
  put(2, {20, 10, 0, 0, 0, 0x5021});
  put(4, {crc, size, size});
  put(2, {name_size, 0, 0, 0, 0});
  put(4, {0, 0});
  z = Concat({z, name});
  const auto central_size = static_cast<uint32_t>(z.size()) - central;
  // End record: disk numbers, entries on this disk and in all, directory size and offset.
  put(4, {0x06054B50, 0});
  put(2, {1, 1});
  put(4, {central_size, central});
  put(2, {static_cast<uint32_t>(comment.size())});
  return Concat({z, testing::Bytes(comment)});
}

// The data length that puts the end record at `offset` within its sector.
size_t DataBytesForEndRecordAt(size_t offset) {
  const size_t fixed = StoredArchive(0, "").size() - 22;  // everything before the end record
  return 4 * 512 + offset - fixed;
}

// ---------------------------------------------------------------------------------------------
// Office Open XML documents packed the way Office packs them.

struct OfficeCase {
  const char* file;
  uint8_t type;
  const char* name;
};

class OfficeArchive : public ::testing::TestWithParam<OfficeCase> {};

// Kept under its Office name when its type is selected; deleted when only ZIP is.
TEST_P(OfficeArchive, ComesBackWholeUnderItsOfficeNameWhenSelected) {
  const OfficeCase& c = GetParam();
  const Bytes original = StructuredSample(c.file);
  ASSERT_FALSE(original.empty()) << c.file;
  for (const TypeSet& selected : {kAllFileTypesMask, TypeBit(c.type), TypeBit(kZip)}) {
    CarveHarness h(ImageWithFileAt(original, kFileSector), selected);
    CarveArchive(h);
    if (selected == TypeBit(kZip)) {
      h.ExpectNothingKept();
    } else {
      h.ExpectKept(original, c.name);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Office, OfficeArchive,
                         ::testing::Values(OfficeCase{"office.docx", kDoc, "KES00001.DOCX"},
                                           OfficeCase{"office.xlsx", kXls, "KES00001.XLSX"},
                                           OfficeCase{"office.pptx", kPpt, "KES00001.PPTX"}),
                         [](const auto& param_info) {
                           return testing::ReadableTestName(param_info.param.file);
                         });

TEST(ZipOffice, DocxNameIsTheFirstFreeOne) {
  const Bytes original = StructuredSample("office.docx");
  CarveHarness h(ImageWithFileAt(original, kFileSector));
  testing::WriteFileBytes(h.dir / "KES00001.DOCX", {'x'});
  testing::WriteFileBytes(h.dir / "KES00003.DOCX", {'y'});
  CarveArchive(h);
  ASSERT_EQ(h.Files(),
            (std::vector<std::string>{"KES00001.DOCX", "KES00003.DOCX", "KES00004.DOCX"}));
  EXPECT_EQ(h.FileBytes("KES00004.DOCX"), original);
  EXPECT_EQ(h.FileBytes("KES00001.DOCX"), Bytes{'x'});
}

TEST(ZipOffice, PartsOfAnUnfinishedDocumentDoNotNameTheNextArchive) {
  // The first two sectors of a DOCX (the rest is lost), then a plain archive with a "word/"
  // folder.
  const Bytes docx = StructuredSample("office.docx");
  const Bytes plain = StructuredSample("plain_word_folder.zip");
  ASSERT_GT(docx.size(), 1024u);
  Bytes image = ImageWithFileAt(Bytes(docx.begin(), docx.begin() + 1024), kFileSector, 0);
  const uint64_t plain_sector = image.size() / 512;
  const Bytes second = ImageWithFileAt(plain, 0);
  image.insert(image.end(), second.begin(), second.end());
  CarveHarness h(image);
  CarveArchive(h, kFileSector, kFileSector + 2);  // the next header ends it
  EXPECT_TRUE(h.Files().empty());
  CarveArchive(h, plain_sector);
  h.ExpectKept(plain, "KES00001.ZIP");
}

// ---------------------------------------------------------------------------------------------
// Plain archives stay ZIP files, comments included.

class PlainArchive : public ::testing::TestWithParam<const char*> {};

// Kept as a ZIP, and deleted when ZIP is not selected.
TEST_P(PlainArchive, ComesBackByteForByteAsZipWhenSelected) {
  const Bytes original = StructuredSample(GetParam());
  ASSERT_FALSE(original.empty()) << GetParam();
  CarveHarness h(ImageWithFileAt(original, kFileSector));
  CarveArchive(h);
  h.ExpectKept(original, "KES00001.ZIP");
  CarveHarness unselected(ImageWithFileAt(original, kFileSector),
                          kAllFileTypesMask & ~TypeBit(kZip));
  CarveArchive(unselected);
  unselected.ExpectNothingKept();
}

// "plain_word_folder.zip" holds a "word/" folder but no "[Content_Types].xml"; "commented.zip"
// has an archive comment; the end record of "stored.zip" lies six sectors in.
INSTANTIATE_TEST_SUITE_P(MadeByZip, PlainArchive,
                         ::testing::Values("plain_word_folder.zip", "commented.zip", "stored.zip"),
                         [](const auto& param_info) {
                           return testing::ReadableTestName(param_info.param);
                         });

TEST(ZipPlain, EndRecordInTheLastBytesOfASectorIsWrittenWholeWithItsComment) {
  // The record at the sector's last byte with a 65535-byte comment reaches 20 bytes past the
  // bytes a sector can see after it.
  std::string longest(65535, 'c');
  longest.back() = 'E';
  const std::string comment = "comment after a split end record";
  for (const auto& [at, text] :
       {std::pair{490u, comment}, std::pair{500u, comment}, std::pair{508u, comment},
        std::pair{511u, comment}, std::pair{511u, longest}}) {
    SCOPED_TRACE(at);
    const Bytes original = StoredArchive(DataBytesForEndRecordAt(at), text);
    CarveHarness h(ImageWithFileAt(original, kFileSector));
    CarveArchive(h);
    h.ExpectKept(original, "KES00001.ZIP");
  }
}

// ---------------------------------------------------------------------------------------------
// Shared samples.

TEST(ZipSamples, ExifToolArchivesComeBackUnderTheirOwnTypes) {
  const std::string dir = testing::SamplesDir();
  if (dir.empty()) GTEST_SKIP() << "shared samples folder missing";
  // OOXML.docx was repacked by another tool (none of the marks Office leaves in its headers):
  // its part names still make it a DOCX.
  for (auto [file, name] :
       {std::pair{"ZIP.zip", "KES00001.ZIP"}, std::pair{"OOXML.docx", "KES00001.DOCX"}}) {
    SCOPED_TRACE(file);
    const Bytes original = testing::ReadFileBytes(dir + "/exiftool-t-images/" + file);
    ASSERT_FALSE(original.empty()) << file;
    CarveHarness h(ImageWithFileAt(original, kFileSector));
    CarveArchive(h);
    h.ExpectKept(original, name);
  }
}

// ---------------------------------------------------------------------------------------------
// Archives as other programs write them.

TEST(ZipWriters, ArchiveHoldingAStoredArchiveEndsAtItsOwnEndRecord) {
  if (!testing::HaveTool("zip")) GTEST_SKIP() << "zip is not installed";
  // The inner archive is stored (not compressed), so its end record lies inside the outer one.
  const Bytes outer = testing::MakeWithTool(
      "head -c 3000 /dev/urandom > a.bin && zip -q inner.zip a.bin && "
      "head -c 2000 /dev/urandom > b.bin && zip -q -0 out.zip inner.zip b.bin && mv out.zip out");
  ASSERT_FALSE(outer.empty());
  CarveHarness h(ImageWithFileAt(outer, kFileSector));
  CarveArchive(h);
  h.ExpectKept(outer, "KES00001.ZIP");
}

bool HavePythonModule(const std::string& module) {
  std::string ignored;
  return testing::RunCommand("/usr/bin/python3 -c 'import " + module + "'", &ignored) == 0;
}

struct PythonOffice {
  const char* name;
  const char* module;
  const char* script;  // writes "out"
  const char* expected;
};

class PythonWrittenOffice : public ::testing::TestWithParam<PythonOffice> {};

TEST_P(PythonWrittenOffice, IsNamedByItsParts) {
  const PythonOffice& c = GetParam();
  if (!HavePythonModule(c.module)) GTEST_SKIP() << "python3 module " << c.module << " missing";
  const Bytes original =
      testing::MakeWithTool(std::string("/usr/bin/python3 -c '") + c.script + "'");
  ASSERT_FALSE(original.empty());
  CarveHarness h(ImageWithFileAt(original, kFileSector));
  CarveArchive(h);
  h.ExpectKept(original, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Python, PythonWrittenOffice,
                         ::testing::Values(
                             PythonOffice{
                                 "Docx", "docx",
                                 "import docx; d = docx.Document(); d.add_paragraph(\"Kestrel\"); "
                                 "d.save(\"out\")",
                                 "KES00001.DOCX"},
                             PythonOffice{"Xlsx", "xlsxwriter",
                                          "import xlsxwriter; w = xlsxwriter.Workbook(\"out\"); "
                                          "w.add_worksheet().write(0, 0, \"Kestrel\"); w.close()",
                                          "KES00001.XLSX"}),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

// ---------------------------------------------------------------------------------------------
// Archives that are not whole are not kept.

TEST(ZipBadInput, ArchiveWhoseEndRecordNeverComesIsDeleted) {
  Bytes original = StructuredSample("stored.zip");
  original.resize(original.size() - 100);  // the central directory's end and the end record
  CarveHarness h(ImageWithFileAt(original, kFileSector, 64 * 1024));
  CarveArchive(h);
  h.ExpectNothingKept();
}

// The source ends (on a sector boundary, as every source does) inside the end record or its
// comment: refused with the sector of its end record, not left open to the source's end.
TEST(ZipBadInput, SourceEndingInsideTheEndRecordOrCommentDropsTheArchive) {
  const struct {
    const char* what;
    Bytes archive;
    size_t sectors;
  } kCases[] = {
      // End record at offset 300 of the archive's fifth sector, 3000 bytes of comment.
      {"inside the comment", StoredArchive(DataBytesForEndRecordAt(300), std::string(3000, 'k')),
       6},
      {"inside the end record", StoredArchive(DataBytesForEndRecordAt(500), ""), 5},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    Bytes image = ImageWithFileAt(c.archive, kFileSector, 0);
    image.resize((kFileSector + c.sectors) * 512);
    CarveHarness h(image);
    CarveArchive(h, kFileSector, UINT64_MAX, /*finish_at_end=*/false);
    h.ExpectNothingKept();
  }
}

}  // namespace
}  // namespace kestrel
