// Compound documents in pieces out of order: the FAT and directory sectors are found in units
// either way of the header and place the units that hold them, a workbook's BIFF record chain
// places each unit of its stream across a cut, and a Word document's Latin text tells the units
// that go on with it from foreign ones. The document comes back exactly, named by its stream;
// where two units go on with the records alike, nothing is written. A presentation cut inside the
// slide thumbnail (raw pixel rows) goes on with the unit that continues the rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "support/office_documents.h"
#include "support/scan_harness.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t kDocUnit = 4096;

// A workbook written by xlwt: `rows` rows of a number, a word and a fraction. xlwt puts its FAT
// and directory last, in the document's last unit, after a workbook stream that fills every unit
// before. Empty without xlwt.
Bytes XlwtRowsWorkbook(int rows) {
  std::string ignored;
  if (testing::RunCommand("/usr/bin/python3 -c 'import xlwt'", &ignored) != 0) return {};
  return testing::MakeWithTool(
      "/usr/bin/python3 -c 'import xlwt\nw = xlwt.Workbook(); s = w.add_sheet(\"s\")\nfor r in "
      "range(" +
      std::to_string(rows) +
      "):\n    s.write(r, 0, r * 7); s.write(r, 1, \"row %d\" % r); s.write(r, 2, r / 3.0)\n"
      "w.save(\"out\")'");
}

Bytes NoiseUnits(size_t units, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes bytes(units * kDocUnit);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

// The piece of `file` from unit `from` to unit `to` (or its end), padded to whole units.
Bytes UnitsOf(const Bytes& file, size_t from, size_t to) {
  const size_t end = std::min(file.size(), to * kDocUnit);
  Bytes piece(file.begin() + static_cast<ptrdiff_t>(from * kDocUnit),
              file.begin() + static_cast<ptrdiff_t>(end));
  piece.resize((piece.size() + kDocUnit - 1) / kDocUnit * kDocUnit, 0);
  return piece;
}

// An image of `file` cut at the units `cuts`, its pieces laid out in the order `order` (piece
// numbers from 0), each followed by two units of noise.
Bytes ShuffledDocument(const Bytes& file, const std::vector<size_t>& cuts,
                       const std::vector<size_t>& order) {
  std::vector<size_t> bounds = {0};
  bounds.insert(bounds.end(), cuts.begin(), cuts.end());
  bounds.push_back((file.size() + kDocUnit - 1) / kDocUnit);
  Bytes image = NoiseUnits(3, 90);
  for (const size_t k : order) {
    const Bytes piece = UnitsOf(file, bounds[k], bounds[k + 1]);
    const Bytes noise = NoiseUnits(2, static_cast<unsigned>(91 + k));
    image.insert(image.end(), piece.begin(), piece.end());
    image.insert(image.end(), noise.begin(), noise.end());
  }
  return image;
}

struct ShuffledCase {
  std::string what;
  std::vector<size_t> cuts, order;
};

// Each case's pieces laid out in its order come back as `document`, named with `extension`.
void ExpectShuffledComeBack(const Bytes& document, const std::vector<ShuffledCase>& cases,
                            const std::string& extension) {
  for (const ShuffledCase& c : cases) {
    SCOPED_TRACE(c.what);
    testing::TempDir dir;
    const auto scan = testing::ScanImage(ShuffledDocument(document, c.cuts, c.order), dir);
    ASSERT_EQ(scan->files.size(), 1u);
    EXPECT_EQ(scan->File(scan->files[0]), document);
    EXPECT_TRUE(scan->files[0].ends_with(extension)) << scan->files[0];
  }
}

TEST(CompoundDocFragments, WorkbookOutOfOrderComesBackExactlyAsXls) {
  const Bytes xls = XlwtRowsWorkbook(800);
  if (xls.empty()) GTEST_SKIP() << "python3 module xlwt missing";
  const size_t units = (xls.size() + kDocUnit - 1) / kDocUnit;
  ASSERT_GE(units, 12u);
  const std::vector<ShuffledCase> cases = {
      {"(2,1): the FAT before the header", {4}, {1, 0}},
      {"(2,1): only the header unit after the rest", {1}, {1, 0}},
      {"(3,1,2)", {3, 8}, {2, 0, 1}},
      {"(1,3,2)", {5, units - 3}, {0, 2, 1}},
      {"(1,3,2,4)", {2, 5, 9}, {0, 2, 1, 3}},
  };
  ExpectShuffledComeBack(xls, cases, ".XLS");
}

// LibreOffice's DOC keeps its FAT in the header's unit and its directory in the last unit, its
// text (UTF-16) in the units between: the cut is placed where the text goes on.
TEST(CompoundDocFragments, WordDocumentWhoseTailLiesBeforeItComesBackExactly) {
  if (!testing::HaveTool("soffice")) GTEST_SKIP() << "LibreOffice is not installed";
  const Bytes& doc = testing::LibreOfficeDocuments("doc").first;
  if (doc.empty()) GTEST_SKIP() << "LibreOffice could not write a DOC";
  ASSERT_GE(doc.size(), 12 * kDocUnit);
  for (const size_t cut : {size_t{5}, size_t{9}}) {
    SCOPED_TRACE("cut at unit " + std::to_string(cut));
    testing::TempDir dir;
    const auto scan = testing::ScanImage(ShuffledDocument(doc, {cut}, {1, 0}), dir);
    ASSERT_EQ(scan->files.size(), 1u);
    EXPECT_EQ(scan->File(scan->files[0]), doc);
    EXPECT_TRUE(scan->files[0].ends_with(".DOC")) << scan->files[0];
  }
}

// A DOC as LibreOffice converts it from a DOCX by python-docx (as the bench's are): 300 paragraphs
// of one line, the table stream's 10 KB in the first units, the paragraph pages after the text.
// Empty without python-docx or LibreOffice.
Bytes ConvertedWordDocument() {
  std::string ignored;
  if (!testing::HaveTool("soffice") ||
      testing::RunCommand("/usr/bin/python3 -c 'import docx'", &ignored) != 0) {
    return {};
  }
  return testing::MakeWithTool(
      "export HOME=\"$PWD\" && /usr/bin/python3 -c 'import docx\nd = docx.Document()\nfor i in "
      "range(300):\n    d.add_paragraph(\"Paragraph %d: the carving of sectors and clusters goes "
      "on, item %d of the budget.\" % (i, i * 7))\nd.save(\"in.docx\")' && soffice --headless "
      "--convert-to doc in.docx >/dev/null 2>&1 && mv in.doc out");
}

// A piece in the middle of the text lies after the last piece: the units of the window whose
// text has a paragraph mark before every paragraph end the paragraph pages list there are tried,
// and only the right one has.
TEST(CompoundDocFragments, WordDocumentWithItsMiddlePieceLastComesBackExactly) {
  const Bytes doc = ConvertedWordDocument();
  if (doc.empty()) GTEST_SKIP() << "python3-docx or LibreOffice missing";
  ASSERT_GE(doc.size(), 16 * kDocUnit);
  testing::TempDir dir;
  const auto scan = testing::ScanImage(ShuffledDocument(doc, {6, 11}, {0, 2, 1}), dir);
  ASSERT_EQ(scan->files.size(), 1u);
  EXPECT_EQ(scan->File(scan->files[0]), doc);
}

// The files a scan of `image` writes.
std::vector<Bytes> FilesScannedFrom(const Bytes& image) {
  testing::TempDir dir;
  const auto scan = testing::ScanImage(image, dir);
  std::vector<Bytes> written;
  for (const std::string& file : scan->files) written.push_back(scan->File(file));
  return written;
}

// The unit that ends the piece table (in the table stream, which no record or text judges) lies
// alone, before the header's piece and after the rest: the unit of the window whose piece table,
// read with the FIB, ends at the character the FIB counts is the one tried. Other DOCs LibreOffice
// wrote lie around it, their table streams alike.
TEST(CompoundDocFragments, WordDocumentCutAroundItsPieceTableComesBackExactly) {
  const Bytes doc = ConvertedWordDocument();
  const Bytes& others = testing::LibreOfficeDocuments("doc").first;
  if (doc.empty() || others.empty()) GTEST_SKIP() << "python3-docx or LibreOffice missing";
  ASSERT_GE(doc.size(), 16 * kDocUnit);
  Bytes image = UnitsOf(others, 0, (others.size() + kDocUnit - 1) / kDocUnit);
  const Bytes pieces = ShuffledDocument(doc, {2, 3}, {1, 0, 2});
  image.insert(image.end(), pieces.begin(), pieces.end());
  const std::vector<Bytes> written = FilesScannedFrom(image);
  EXPECT_EQ(written.size(), 2u);
  EXPECT_NE(std::find(written.begin(), written.end(), doc), written.end());
}

// The middle piece lies twice, once after each other piece: both go on with the records alike,
// so where the document goes on is not known.
TEST(CompoundDocFragments, PieceThatLiesTwiceWritesNothing) {
  const Bytes xls = XlwtRowsWorkbook(800);
  if (xls.empty()) GTEST_SKIP() << "python3 module xlwt missing";
  Bytes image = ShuffledDocument(xls, {3, 8}, {2, 0, 1});
  const Bytes middle = UnitsOf(xls, 3, 8);
  image.insert(image.begin() + static_cast<ptrdiff_t>(kDocUnit), middle.begin(), middle.end());
  testing::TempDir dir;
  const auto scan = testing::ScanImage(image, dir);
  EXPECT_TRUE(scan->files.empty());
}

// A piece of the workbook stream overwritten: no unit of the window goes on with the records,
// and nothing is written.
TEST(CompoundDocFragments, WorkbookWithAPieceOverwrittenWritesNothing) {
  Bytes xls = XlwtRowsWorkbook(800);
  if (xls.empty()) GTEST_SKIP() << "python3 module xlwt missing";
  const Bytes noise = NoiseUnits(1, 99);
  std::copy(noise.begin(), noise.end(), xls.begin() + 6 * kDocUnit);
  testing::TempDir dir;
  const auto scan = testing::ScanImage(ShuffledDocument(xls, {3, 8}, {2, 0, 1}), dir);
  EXPECT_TRUE(scan->files.empty());
}

// LibreOffice's PPT keeps its FAT in the header's unit and its directory in the last unit, and
// between them a slide thumbnail of raw pixel rows (512 x 288, 24 bits: units 14 to 122): a cut
// there is found by the unit that goes on with the rows, not the noise after the piece.
const Bytes& ThumbnailPresentation() {
  static const Bytes none;
  if (!testing::HaveTool("soffice")) return none;
  const Bytes& ppt = testing::LibreOfficeDocuments("ppt").first;
  return ppt.size() >= 123 * kDocUnit ? ppt : none;
}

TEST(CompoundDocFragments, PresentationCutInsideItsThumbnailComesBackExactly) {
  const Bytes& ppt = ThumbnailPresentation();
  if (ppt.empty()) GTEST_SKIP() << "LibreOffice missing or its PPT holds no thumbnail";
  const std::vector<ShuffledCase> cases = {
      {"in order, noise between", {40}, {0, 1}},
      {"(2,1)", {60}, {1, 0}},
  };
  ExpectShuffledComeBack(ppt, cases, ".PPT");
}

// The thumbnail presentation with one slide more: the same template, its FAT sectors in the same
// places and alike but where its chains end. Empty without LibreOffice.
Bytes PresentationWithOneSlideMore() {
  if (!testing::HaveTool("soffice")) return {};
  return testing::MakeWithTool("export HOME=\"$PWD\" && n=1 && " + testing::SlidesSource("31") +
                               " && soffice --headless --convert-to ppt f1.fodp >/dev/null 2>&1 "
                               "&& mv f1.ppt out");
}

// The near-identical presentation lies whole just before one whose pieces lie out of order: the
// unit of FAT sectors after the header fits in both, and only with the document's own FAT do the
// directory's streams have the chains their sizes need and its entries link inside it.
TEST(CompoundDocFragments, PresentationBesideANearIdenticalOneComesBackExactly) {
  const Bytes& ppt = ThumbnailPresentation();
  const Bytes other = PresentationWithOneSlideMore();
  if (ppt.empty() || other.empty()) GTEST_SKIP() << "LibreOffice missing or no thumbnail";
  Bytes image = UnitsOf(other, 0, (other.size() + kDocUnit - 1) / kDocUnit);
  const Bytes pieces = ShuffledDocument(ppt, {60}, {1, 0});
  image.insert(image.end(), pieces.begin(), pieces.end());
  const std::vector<Bytes> written = FilesScannedFrom(image);
  EXPECT_EQ(written.size(), 2u);
  EXPECT_NE(std::find(written.begin(), written.end(), ppt), written.end());
  EXPECT_NE(std::find(written.begin(), written.end(), other), written.end());
}

// The presentation cut inside its thumbnail at `cuts`, its pieces in order with `noise` units of
// noise after each but the last.
Bytes PresentationWithNoiseGaps(const Bytes& ppt, const std::vector<size_t>& cuts, size_t noise) {
  std::vector<size_t> bounds = {0};
  bounds.insert(bounds.end(), cuts.begin(), cuts.end());
  bounds.push_back((ppt.size() + kDocUnit - 1) / kDocUnit);
  Bytes image;
  for (size_t k = 0; k + 1 < bounds.size(); ++k) {
    const Bytes piece = UnitsOf(ppt, bounds[k], bounds[k + 1]);
    image.insert(image.end(), piece.begin(), piece.end());
    if (k + 2 == bounds.size()) break;
    const Bytes gap = NoiseUnits(noise, static_cast<unsigned>(bounds[k + 1]));
    image.insert(image.end(), gap.begin(), gap.end());
  }
  return image;
}

// Noise between the pieces breaks the rows inside its units: where the thumbnail's rows are flat at
// a cut, the unit after it and the run to the directory go on with the rows alike, and the run that
// holds the noise is not taken. With two gaps (the first right after the FAT's second unit), the
// document goes on in the first unit past the noise, which neither of those runs holds.
TEST(CompoundDocFragments, PresentationWithNoiseBetweenItsPiecesComesBackExactly) {
  const Bytes& ppt = ThumbnailPresentation();
  if (ppt.empty()) GTEST_SKIP() << "LibreOffice missing or its PPT holds no thumbnail";
  const std::vector<std::pair<std::vector<size_t>, size_t>> cases = {
      {{30}, 3}, {{60}, 3}, {{90}, 3}, {{17, 24}, 1}};
  for (const auto& [cuts, noise] : cases) {
    SCOPED_TRACE("cut at unit " + std::to_string(cuts[0]) + ", " + std::to_string(noise) +
                 " units of noise");
    testing::TempDir dir;
    const auto scan = testing::ScanImage(PresentationWithNoiseGaps(ppt, cuts, noise), dir);
    ASSERT_EQ(scan->files.size(), 1u);
    EXPECT_EQ(scan->File(scan->files[0]), ppt);
  }
}

// The thumbnail's unit after the cut overwritten: it and the noise after the first piece break
// the rows alike, both pass the whole check, and nothing is written.
TEST(CompoundDocFragments, PresentationWithItsThumbnailOverwrittenAtTheCutWritesNothing) {
  const Bytes& ppt = ThumbnailPresentation();
  if (ppt.empty()) GTEST_SKIP() << "LibreOffice missing or its PPT holds no thumbnail";
  Bytes damaged = ppt;
  const Bytes noise = NoiseUnits(1, 77);
  std::copy(noise.begin(), noise.end(), damaged.begin() + 40 * kDocUnit);
  testing::TempDir dir;
  const auto scan = testing::ScanImage(ShuffledDocument(damaged, {40}, {0, 1}), dir);
  EXPECT_TRUE(scan->files.empty());
}

}  // namespace
}  // namespace kestrel
