// Telling a whole compound document from a damaged one by its sector chains and the records of
// its main stream: documents LibreOffice writes (DOC, XLS, PPT) are whole; with a 4 KiB block of
// random bytes, text, zeros or another document over their records, with a block missing, cut
// short, or ending in another document's tail they are not; crafted chains end with a verdict.
#include "carve/formats/compound_doc_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "carve/formats/compound_doc.h"
#include "platform/byte_order.h"
#include "support/carve_harness.h"
#include "support/damaged_blocks.h"
#include "support/office_documents.h"
#include "support/structured_fixtures.h"

namespace kestrel {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::kDamageBlock;
using Pair = testing::DocumentPair;

Whole CheckDocument(const Bytes& document) {
  return testing::CheckInMemory(CheckCompoundDoc, document);
}

class LibreOfficeDocuments : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::HaveTool("soffice")) GTEST_SKIP() << "LibreOffice is not installed";
  }
  // The documents of `kind`, which must have been made (a test stops on the failure).
  static const Pair& Made(const std::string& kind) {
    const Pair& pair = testing::LibreOfficeDocuments(kind);
    EXPECT_GT(pair.first.size(), 16 * kDamageBlock) << "LibreOffice made no " << kind;
    EXPECT_GT(pair.second.size(), pair.first.size());
    return pair;
  }
};

// A 4 KiB block of another document.
Bytes BlockOf(const Bytes& other, size_t at) {
  if (other.size() < at + kDamageBlock) return {};
  return Bytes(other.begin() + static_cast<std::ptrdiff_t>(at),
               other.begin() + static_cast<std::ptrdiff_t>(at + kDamageBlock));
}

TEST(CompoundDocCheck, FixturesAndSamplesAreWhole) {
  for (const char* name : {"word.doc", "excel.xls", "slides.ppt.gz"}) {
    EXPECT_EQ(CheckDocument(testing::StructuredSample(name)), Whole::kYes) << name;
  }
  const std::string samples = testing::SamplesDir();
  if (samples.empty()) return;
  EXPECT_EQ(CheckDocument(testing::ReadFileBytes(samples + "/exiftool-t-images/FlashPix.ppt")),
            Whole::kYes);
}

void SetLe32(Bytes& file, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) file[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// The 4 KiB block at `at` replaced by random bytes, text, zeros and `other` (a block of another
// document): all broken.
void ExpectForeignBlocksBreak(const Bytes& file, size_t at, const Bytes& other) {
  SCOPED_TRACE(at);
  for (const Bytes& block :
       {testing::NoiseBlock(), testing::TextBlock(), testing::ZeroBlock(), other}) {
    EXPECT_EQ(CheckDocument(testing::WithBlock(file, at, block)), Whole::kNo);
  }
}

// A block missing (the carve then takes 4 KiB past the document's end), the head of one
// document with the tail of another, or a document cut short: the sector chains break.
void ExpectMissingBlocksForeignTailsAndCutsBreak(const Pair& pair) {
  const Bytes& file = pair.first;
  for (size_t at = kDamageBlock; at + kDamageBlock < file.size(); at += kDamageBlock) {
    SCOPED_TRACE(at);
    Bytes shifted = testing::WithoutBlock(file, at);
    shifted.resize(file.size(), 0x5A);
    EXPECT_EQ(CheckDocument(shifted), Whole::kNo);
    EXPECT_EQ(CheckDocument(testing::Spliced(file, pair.second, at)), Whole::kNo);
  }
  EXPECT_EQ(CheckDocument(
                Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(file.size() / 2))),
            Whole::kNo);
}

TEST_F(LibreOfficeDocuments, AreWholeAndBreakWhereTheirRecordsOrChainsAre) {
  const Pair& doc = Made("doc");
  const Pair& xls = Made("xls");
  const Pair& ppt = Made("ppt");
  ASSERT_FALSE(HasFailure());
  for (const Pair* pair : {&doc, &xls, &ppt}) {
    EXPECT_EQ(CheckDocument(pair->first), Whole::kYes);
    EXPECT_EQ(CheckDocument(pair->second), Whole::kYes);
    ExpectMissingBlocksForeignTailsAndCutsBreak(*pair);
  }
  // The workbook stream fills the file: any block of it breaks its records.
  for (size_t at = kDamageBlock; at + 2 * kDamageBlock < xls.first.size(); at += kDamageBlock) {
    ExpectForeignBlocksBreak(xls.first, at, BlockOf(doc.second, 2 * kDamageBlock));
  }
  // LibreOffice writes the presentation's records first (its preview picture, unchecked, comes
  // after them); the FIB opens the WordDocument stream and its formatting pages end it.
  for (size_t block : {1, 2, 3}) {
    ExpectForeignBlocksBreak(ppt.first, block * kDamageBlock, BlockOf(xls.second, kDamageBlock));
  }
  const size_t formatting_pages = (doc.first.size() / kDamageBlock - 2) * kDamageBlock;
  for (size_t at : {kDamageBlock, formatting_pages}) {
    ExpectForeignBlocksBreak(doc.first, at, BlockOf(ppt.second, 5 * kDamageBlock));
  }
  // Offsets the records give: the last edit (in the Current User stream) at the presentation's
  // first record instead of an edit; the piece table past the table stream, or ending at another
  // character than the FIB counts.
  Bytes edit = ppt.first;
  const uint8_t size_and_token[] = {0x14, 0, 0, 0, 0x5F, 0xC0, 0x91, 0xE3};
  const auto atom =
      std::search(edit.begin(), edit.end(), std::begin(size_and_token), std::end(size_and_token));
  ASSERT_NE(atom, edit.end());
  SetLe32(edit, static_cast<size_t>(atom - edit.begin()) + 8, 0);
  EXPECT_EQ(CheckDocument(edit), Whole::kNo);
  Bytes pieces = doc.first;
  size_t fib = 512;  // the FIB's magic opens the sector the WordDocument stream starts in
  while (fib + 512 < pieces.size() && LoadLe16(&pieces[fib]) != 0xA5EC) fib += 512;
  ASSERT_LT(fib + 512, pieces.size());
  Bytes counted = pieces;
  SetLe32(pieces, fib + 0x1A2, 0x00FFFFFF);
  EXPECT_EQ(CheckDocument(pieces), Whole::kNo);
  SetLe32(counted, fib + 0x4C, LoadLe32(&counted[fib + 0x4C]) + 1);  // the main text's count
  EXPECT_EQ(CheckDocument(counted), Whole::kNo);
}

// ---------------------------------------------------------------------------------------------
// Crafted chains and directories, made from a real workbook.

// Where the FAT entry of file sector `sector` lies (512-byte sectors, FAT listed in the header).
size_t FatEntryOf(const Bytes& file, uint32_t sector) {
  const uint32_t fat_sector = LoadLe32(&file[0x4C + 4 * (sector / 128)]);
  return (fat_sector + size_t{1}) * 512 + 4 * (sector % 128);
}

// Where the directory entry named `name` (ASCII) lies in the directory's first sector.
size_t EntryNamed(const Bytes& file, const std::string& name) {
  Bytes utf16;
  for (char c : name) utf16.insert(utf16.end(), {static_cast<uint8_t>(c), 0});
  const size_t directory = (LoadLe32(&file[0x30]) + size_t{1}) * 512;
  const auto first = file.begin() + static_cast<std::ptrdiff_t>(directory);
  const auto found = std::search(first, first + 512, utf16.begin(), utf16.end());
  return found == first + 512 ? file.size() : static_cast<size_t>(found - file.begin());
}

// Crafted chains, sizes and counts are broken; a document whose main stream is none the check
// reads keeps the end marker's verdict.
TEST_F(LibreOfficeDocuments, CraftedChainsSizesAndCountsAreBrokenAndAnUnknownMainStreamUnchecked) {
  const Bytes& workbook = Made("xls").first;
  ASSERT_FALSE(HasFailure());
  const uint32_t directory = LoadLe32(&workbook[0x30]);
  const size_t stream = EntryNamed(workbook, "Workbook");
  const size_t compobj = EntryNamed(workbook,
                                    "\x01"
                                    "CompObj");
  ASSERT_LT(stream, workbook.size());
  ASSERT_LT(compobj, workbook.size());
  const size_t root = EntryNamed(workbook, "Root Entry");
  ASSERT_LT(root, workbook.size());
  const uint32_t size = LoadLe32(&workbook[stream + 120]);
  const struct {
    const char* what;
    size_t at;
    uint32_t value;
  } kCases[] = {
      {"directory chain looping to itself", FatEntryOf(workbook, directory), directory},
      {"every FAT sector the first", 0x4C + 4, LoadLe32(&workbook[0x4C])},
      {"FAT count past the file", 0x2C, 0xFFFFFFFF},
      {"stream beyond the file", stream + 116, 0x00FFFFF0},
      {"stream starting in the directory", stream + 116, directory},
      {"stream a sector longer than its chain", stream + 120, size + 512},
      {"stream a sector shorter than its chain", stream + 120, size - 512},
      {"root's mini stream longer than the file", root + 120, 0x7FFFFFFF},
      {"mini stream chain outside the mini stream", compobj + 116, 0x00FFFFFF},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    Bytes crafted = workbook;
    SetLe32(crafted, c.at, c.value);
    EXPECT_EQ(CheckDocument(crafted), Whole::kNo);
  }
  Bytes renamed = workbook;
  renamed[stream + 14] = 'c';  // "Workbooc"
  EXPECT_EQ(CheckDocument(renamed), Whole::kUnchecked);

  // One string more than the shared string table holds (3000 "kestrel N"): broken, unless the
  // workbook is encrypted (FILEPASS in place of the record after the first BOF), whose record
  // bodies are not readable.
  const uint8_t counts[] = {0xB8, 0x0B, 0, 0, 0xB8, 0x0B, 0, 0};
  const auto table =
      std::search(workbook.begin(), workbook.end(), std::begin(counts), std::end(counts));
  ASSERT_NE(table, workbook.end());
  Bytes miscounted = workbook;
  SetLe32(miscounted, static_cast<size_t>(table - workbook.begin()) + 4, 3001);
  EXPECT_EQ(CheckDocument(miscounted), Whole::kNo);
  const size_t first_bof = (LoadLe32(&workbook[stream + 116]) + size_t{1}) * 512;
  ASSERT_EQ(LoadLe16(&workbook[first_bof]), 0x0809);
  miscounted[first_bof + 4 + LoadLe16(&workbook[first_bof + 2])] = 0x2F;
  EXPECT_EQ(CheckDocument(miscounted), Whole::kYes);
}

// A sheet that ends (an EOF record over a row's record) blocks before the workbook stream does:
// what follows is more than a writer pads with, as where the head of one workbook goes on with
// the tail of a shorter one.
TEST_F(LibreOfficeDocuments, AWorkbookWhoseRecordsEndABlockBeforeItsStreamIsBroken) {
  const Bytes& xls = Made("xls").first;
  ASSERT_FALSE(HasFailure());
  const uint8_t row_header[] = {0x08, 0x02, 0x10, 0x00};
  const auto middle = xls.begin() + static_cast<std::ptrdiff_t>(xls.size() / 2);
  const auto row = std::search(middle, xls.end(), std::begin(row_header), std::end(row_header));
  ASSERT_LT(row + 4 * kDamageBlock, xls.end());
  Bytes ended = xls;
  SetLe32(ended, static_cast<size_t>(row - xls.begin()), 0x000A);
  EXPECT_EQ(CheckDocument(ended), Whole::kNo);
}

// ---------------------------------------------------------------------------------------------
// Through the carving.

TEST_F(LibreOfficeDocuments, ABrokenWorkbookIsNoLongerKeptAndAWholeOneIs) {
  constexpr uint64_t kFileSector = 2;
  const Bytes& whole = Made("xls").first;
  ASSERT_FALSE(HasFailure());
  const Bytes broken = testing::WithBlock(whole, 8 * kDamageBlock, testing::NoiseBlock());
  for (const Bytes* file : {&whole, &broken}) {
    CarveHarness h(testing::ImageWithFileAt(*file, kFileSector, kDamageBlock));
    const CompoundState state =
        h.StartAt(kFileSector, [](const CarveView& view) { return StartCompound(view); });
    h.Carve(state, "PPT", kFileSector);
    if (file == &whole) {
      h.ExpectKept(whole, "KES00001.XLS");
    } else {
      h.ExpectNothingKept();
    }
  }
}

}  // namespace
}  // namespace kestrel
