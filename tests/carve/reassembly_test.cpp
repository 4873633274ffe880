// Files found in fragments in order, with foreign units between them, as on a disk in use: a
// ZIP archive put back together by its central directory's offsets and its members' CRC-32s (and
// out of order by following its records across the cuts), a PDF by its cross-reference tables
// and its objects' syntax and Flate streams, a WMV by its fixed-size packets (out of order too),
// a compound document by its FAT and directory sectors and its main stream's
// records, an MP3 by its chain of frames (in order, out of order, two streams of one encoding
// intertwined, and a stream that starts where another is cut), come back exactly, and nothing is
// written when a piece is missing. A later piece of an MPEG program stream is not written as a
// stream of its own, and a stream in pieces comes back by its chain of packs and packets (in order
// and out of order); an AVI comes back by its index (its header, a frame several units long and its
// index cut too), unless a piece is overwritten or a unit of another movie's frame could be its
// own; an MP4 (movie box last or first) comes back by its movie box and the NAL unit chains of its
// video samples, unless a piece is overwritten, its tail after its last sample's start could be
// cut, or two movie boxes fit it alike.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/byte_order.h"
#include "support/media_files.h"
#include "support/office_documents.h"
#include "support/pdf_files.h"
#include "support/scan_harness.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::TempDir;
constexpr size_t kUnit = 4096;

Bytes RandomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes bytes(n);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

Bytes TextBytes(size_t n) {
  const std::string line = "Minutes of the meeting, item 4: the budget stays as it is.\n";
  Bytes bytes;
  while (bytes.size() < n) bytes.insert(bytes.end(), line.begin(), line.end());
  bytes.resize(n);
  return bytes;
}

// An image holding `file` cut at the unit boundaries `cuts`, the gaps `gaps` between its pieces
// (each a whole number of units), with zeros before and after.
Bytes Fragmented(const Bytes& file, const std::vector<size_t>& cuts,
                 const std::vector<Bytes>& gaps) {
  Bytes image(4 * kUnit, 0);
  size_t from = 0;
  for (size_t i = 0; i <= cuts.size(); ++i) {
    const size_t to = i < cuts.size() ? cuts[i] : file.size();
    image.insert(image.end(), file.begin() + static_cast<ptrdiff_t>(from),
                 file.begin() + static_cast<ptrdiff_t>(to));
    if (i < gaps.size()) image.insert(image.end(), gaps[i].begin(), gaps[i].end());
    from = to;
  }
  image.resize((image.size() + kUnit - 1) / kUnit * kUnit + 4 * kUnit, 0);
  return image;
}

// Scans `file` cut at `cuts` with `gaps` between its pieces: it comes back exactly, once.
void ExpectComesBackWhole(const Bytes& file, const std::vector<size_t>& cuts,
                          const std::vector<Bytes>& gaps) {
  TempDir dir;
  const auto scan = testing::ScanImage(Fragmented(file, cuts, gaps), dir);
  ASSERT_EQ(scan->files.size(), 1u);
  EXPECT_EQ(scan->File(scan->files[0]), file);
}

// Three members of base64 text, deflated, about 23 KiB each: a cut every 16 KiB falls inside
// some member's data.
Bytes ArchiveOfThreeMembers() {
  return testing::MakeWithTool(
      "for f in a b c; do head -c 30000 /dev/urandom | base64 > $f.txt; done && "
      "zip -q out.zip a.txt b.txt c.txt && mv out.zip out");
}

TEST(ZipReassembly, ArchiveInThreePiecesComesBackWhole) {
  if (!testing::HaveTool("zip")) GTEST_SKIP() << "zip is not installed";
  const Bytes zip = ArchiveOfThreeMembers();
  ASSERT_GT(zip.size(), 5 * kUnit * 3);
  ExpectComesBackWhole(zip, {4 * kUnit, 10 * kUnit}, {RandomBytes(2 * kUnit, 1), TextBytes(kUnit)});
}

TEST(ZipReassembly, MemberCutTwiceComesBackWhole) {
  if (!testing::HaveTool("zip")) GTEST_SKIP() << "zip is not installed";
  const Bytes zip = ArchiveOfThreeMembers();
  ASSERT_GT(zip.size(), 12 * kUnit);
  // Both cuts fall inside the second member's 23 KiB of deflate data.
  ExpectComesBackWhole(zip, {7 * kUnit, 9 * kUnit}, {RandomBytes(2 * kUnit, 9), TextBytes(kUnit)});
}

TEST(ZipReassembly, ArchiveWithAPieceOverwrittenIsNotWritten) {
  if (!testing::HaveTool("zip")) GTEST_SKIP() << "zip is not installed";
  Bytes zip = ArchiveOfThreeMembers();
  ASSERT_GT(zip.size(), 12 * kUnit);
  // The second piece is lost: another file's unit lies where it was.
  const Bytes other = RandomBytes(kUnit, 2);
  std::copy(other.begin(), other.end(), zip.begin() + 6 * kUnit);
  TempDir dir;
  const auto scan =
      testing::ScanImage(Fragmented(zip, {4 * kUnit}, {RandomBytes(2 * kUnit, 3)}), dir);
  EXPECT_TRUE(scan->files.empty());
}

TEST(ZipReassembly, GapsThatAreNoWholeUnitsAreNotCutOut) {
  if (!testing::HaveTool("zip")) GTEST_SKIP() << "zip is not installed";
  const Bytes zip = ArchiveOfThreeMembers();
  TempDir dir;
  // 1000 foreign bytes put in: no unit boundary explains them.
  const auto scan = testing::ScanImage(Fragmented(zip, {4 * kUnit}, {RandomBytes(1000, 4)}), dir);
  EXPECT_TRUE(scan->files.empty());
}

// A ghostscript PDF of 30 pages of text (about 15 KB), with an incremental update appended.
Bytes UpdatedPdf() {
  if (!testing::HaveTool("gs")) return {};
  const Bytes pdf = testing::MakeWithTool(
      "gs -q -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -sOutputFile=out -c \"/Helvetica findfont 12 "
      "scalefont setfont 1 1 30 { 72 700 moveto 20 string cvs show ( of the minutes) show "
      "showpage } for\"");
  return pdf.empty() ? pdf : testing::WithIncrementalUpdate(pdf, 200);
}

TEST(PdfReassembly, UpdatedPdfInThreePiecesComesBackWhole) {
  const Bytes pdf = UpdatedPdf();
  if (pdf.empty()) GTEST_SKIP() << "ghostscript is not installed";
  ASSERT_GT(pdf.size(), 2 * kUnit + 100);
  ExpectComesBackWhole(pdf, {kUnit, 2 * kUnit}, {TextBytes(kUnit), RandomBytes(3 * kUnit, 7)});
}

TEST(PdfReassembly, PdfWithAPieceOverwrittenIsNotWritten) {
  Bytes pdf = UpdatedPdf();
  if (pdf.empty()) GTEST_SKIP() << "ghostscript is not installed";
  ASSERT_GT(pdf.size(), 2 * kUnit + 100);
  const Bytes other = RandomBytes(kUnit, 8);
  std::copy(other.begin(), other.end(), pdf.begin() + kUnit);
  TempDir dir;
  const auto scan = testing::ScanImage(Fragmented(pdf, {2 * kUnit}, {TextBytes(kUnit)}), dir);
  EXPECT_TRUE(scan->files.empty());
}

// A WMV (WMV2 video and WMA2 sound, packets of 3200 bytes) written by ffmpeg.
Bytes FfmpegWmv() {
  if (!testing::HaveTool("ffmpeg")) return {};
  return testing::MakeWithTool(
      "ffmpeg -v error -f lavfi -i testsrc=duration=2:size=160x120:rate=25 -f lavfi -i "
      "sine=duration=2 -c:v wmv2 -c:a wmav2 -f asf out");
}

TEST(AsfReassembly, MovieInThreePiecesComesBackWhole) {
  const Bytes wmv = FfmpegWmv();
  if (wmv.empty()) GTEST_SKIP() << "ffmpeg is not installed";
  ASSERT_GT(wmv.size(), 8 * kUnit);
  ExpectComesBackWhole(wmv, {3 * kUnit, 6 * kUnit}, {RandomBytes(2 * kUnit, 10), TextBytes(kUnit)});
}

TEST(AsfReassembly, MovieWithAPieceOverwrittenIsNotWritten) {
  Bytes wmv = FfmpegWmv();
  if (wmv.empty()) GTEST_SKIP() << "ffmpeg is not installed";
  ASSERT_GT(wmv.size(), 8 * kUnit);
  const Bytes other = RandomBytes(kUnit, 11);
  std::copy(other.begin(), other.end(), wmv.begin() + 4 * kUnit);
  TempDir dir;
  const auto scan = testing::ScanImage(Fragmented(wmv, {6 * kUnit}, {TextBytes(kUnit)}), dir);
  EXPECT_TRUE(scan->files.empty());
}

TEST(CompoundDocReassembly, WorkbookInThreePiecesComesBackWholeAndNotWithAPieceOverwritten) {
  if (!testing::HaveTool("soffice")) GTEST_SKIP() << "LibreOffice is not installed";
  const Bytes& xls = testing::LibreOfficeDocuments("xls").second;
  ASSERT_GT(xls.size(), 16 * kUnit);
  ExpectComesBackWhole(xls, {kUnit}, {RandomBytes(3 * kUnit, 14)});
  ExpectComesBackWhole(xls, {3 * kUnit, 9 * kUnit}, {RandomBytes(2 * kUnit, 15), TextBytes(kUnit)});
  Bytes broken = xls;
  const Bytes other = RandomBytes(kUnit, 16);
  std::copy(other.begin(), other.end(), broken.begin() + 6 * kUnit);
  TempDir dir;
  const auto scan = testing::ScanImage(Fragmented(broken, {3 * kUnit}, {TextBytes(kUnit)}), dir);
  EXPECT_TRUE(scan->files.empty());
}

// Four seconds of noise as MP3 (libmp3lame, 128 kbit/s, with its Info frame and the tags of
// `tags`): 16 units of frames that all differ. Empty without ffmpeg.
Bytes NoiseMp3(unsigned seed, const std::string& tags = "") {
  if (!testing::HaveTool("ffmpeg")) return {};
  return testing::MakeWithTool(
      "ffmpeg -v error -f lavfi -i anoisesrc=d=4:c=pink:a=0.3:seed=" + std::to_string(seed) +
      " -c:a libmp3lame -b:a 128k " + tags + " -f mp3 out");
}

// An image of `file`'s pieces (cut at `cuts`) laid out in the order `order` (piece numbers from
// 0), each followed by a unit of random bytes.
Bytes OutOfOrder(const Bytes& file, const std::vector<size_t>& cuts,
                 const std::vector<size_t>& order) {
  std::vector<Bytes> pieces;
  size_t from = 0;
  for (size_t i = 0; i <= cuts.size(); ++i) {
    const size_t to = i < cuts.size() ? cuts[i] : file.size();
    pieces.emplace_back(file.begin() + static_cast<ptrdiff_t>(from),
                        file.begin() + static_cast<ptrdiff_t>(to));
    from = to;
  }
  Bytes image(4 * kUnit, 0);
  for (const size_t k : order) {
    image.insert(image.end(), pieces[k].begin(), pieces[k].end());
    image.resize((image.size() + kUnit - 1) / kUnit * kUnit, 0);
    const Bytes filler = RandomBytes(kUnit, static_cast<unsigned>(20 + k));
    image.insert(image.end(), filler.begin(), filler.end());
  }
  image.resize(image.size() + 4 * kUnit, 0);
  return image;
}

// A PDF whose update is cut at a unit boundary, another whole file lying in the gap: it goes on
// after that file to its last "%%EOF", and its first revision is not written as the file.
TEST(PdfReassembly, UpdateCutByAFileInTheGapGoesOnAfterIt) {
  Bytes base = UpdatedPdf();
  if (base.empty()) GTEST_SKIP() << "ghostscript is not installed";
  const Bytes other = testing::MakeWithTool(
      "gs -q -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -sOutputFile=out -c \"/Times-Roman findfont 14 "
      "scalefont setfont 72 600 moveto (Agenda for the spring) show showpage\"");
  ASSERT_FALSE(other.empty());
  // A comment before the last "%%EOF" moves no offset: it puts that "%%EOF" 100 bytes before a
  // unit boundary, so the next update starts there and runs over the boundary.
  const std::string text(base.begin(), base.end());
  const size_t eof = text.rfind("%%EOF");
  ASSERT_NE(eof, std::string::npos);
  const size_t pad = (2 * kUnit - (base.size() + 2) % kUnit - 100) % kUnit;
  std::string comment = "%" + std::string(pad, ' ') + "\n";
  base.insert(base.begin() + static_cast<ptrdiff_t>(eof), comment.begin(), comment.end());
  ASSERT_EQ(base.size() % kUnit, kUnit - 100);
  const Bytes pdf = testing::WithIncrementalUpdate(base, 300);
  const size_t cut = base.size() + 100;
  ASSERT_GT(pdf.size(), cut + 20);
  const Bytes gap = Fragmented(other, {}, {});  // zeros around it: units of its own
  TempDir dir;
  const auto scan = testing::ScanImage(Fragmented(pdf, {cut}, {gap}), dir);
  ASSERT_EQ(scan->files.size(), 2u);
  EXPECT_EQ(scan->File(scan->files[0]), pdf);
  EXPECT_EQ(scan->File(scan->files[1]), other);
}

// An updated PDF in pieces out of order, its last piece before its first: each unit is placed by
// the objects and tables its cross-reference tables put there. A second PDF after its pieces,
// which its carve ran over looking for its end, comes back too.
TEST(PdfReassembly, UpdatedPdfOutOfOrderComesBackWithThePdfItsCarveRanOver) {
  const Bytes pdf = UpdatedPdf();
  if (pdf.empty()) GTEST_SKIP() << "ghostscript is not installed";
  const Bytes other = testing::MakeWithTool(
      "gs -q -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -sOutputFile=out -c \"/Times-Roman findfont 14 "
      "scalefont setfont 72 600 moveto (Agenda for the spring) show showpage\"");
  ASSERT_GT(pdf.size(), 3 * kUnit + 100);
  ASSERT_FALSE(other.empty());
  const std::vector<size_t> cuts = {kUnit, 2 * kUnit, 3 * kUnit};
  for (const std::vector<size_t>& order : {std::vector<size_t>{3, 0, 2, 1}, {1, 0, 3, 2}}) {
    Bytes image = OutOfOrder(pdf, cuts, order);
    image.insert(image.end() - 4 * kUnit, other.begin(), other.end());
    image.resize((image.size() + kUnit - 1) / kUnit * kUnit + 4 * kUnit, 0);
    TempDir dir;
    const auto scan = testing::ScanImage(image, dir);
    const std::string what = "order " + std::to_string(order[0]) + std::to_string(order[1]) +
                             std::to_string(order[2]) + std::to_string(order[3]);
    ASSERT_EQ(scan->files.size(), 2u) << what;
    EXPECT_EQ(scan->File(scan->files[0]), pdf) << what;
    EXPECT_EQ(scan->File(scan->files[1]), other) << what;
  }
}

TEST(Mp3Reassembly, StreamInPiecesComesBackWholeInOrderAndOutOfOrder) {
  const Bytes mp3 = NoiseMp3(1, "-write_id3v1 1 -metadata title=Kestrel");
  if (mp3.empty()) GTEST_SKIP() << "ffmpeg is not installed";
  ASSERT_GT(mp3.size(), 12 * kUnit);
  ExpectComesBackWhole(mp3, {3 * kUnit, 7 * kUnit}, {RandomBytes(2 * kUnit, 12), TextBytes(kUnit)});
  for (const std::vector<size_t>& order : {std::vector<size_t>{1, 0}, {0, 2, 1}, {2, 0, 1}}) {
    const std::vector<size_t> cuts = order.size() == 2 ? std::vector<size_t>{5 * kUnit}
                                                       : std::vector<size_t>{3 * kUnit, 9 * kUnit};
    TempDir dir;
    const auto scan = testing::ScanImage(OutOfOrder(mp3, cuts, order), dir);
    ASSERT_EQ(scan->files.size(), 1u) << order.size() << " pieces";
    EXPECT_EQ(scan->File(scan->files[0]), mp3);
  }
}

// An Office Open XML document as Python's zipfile writes it: its content types first, then a
// deflated document part of about 60 KiB of varied text.
Bytes WordDocument() {
  return testing::MakeWithTool(
      "python3 -c \"import zipfile, random\n"
      "r = random.Random(7)\n"
      "words = ['minutes', 'budget', 'item', 'agreed', 'report', 'kestrel', 'meeting']\n"
      "text = ' '.join(r.choice(words) + str(r.randrange(99999)) for _ in range(12000))\n"
      "with zipfile.ZipFile('out', 'w', zipfile.ZIP_DEFLATED) as z:\n"
      "  z.writestr('[Content_Types].xml', '<Types/>')\n"
      "  z.writestr('word/document.xml', '<w:document>' + text + '</w:document>')\n"
      "  z.writestr('word/styles.xml', '<w:styles/>')\"");
}

TEST(ZipReassembly, ArchivesInPiecesOutOfOrderComeBackWhole) {
  if (!testing::HaveTool("zip")) GTEST_SKIP() << "zip is not installed";
  const Bytes zip = ArchiveOfThreeMembers();
  ASSERT_GT(zip.size(), 12 * kUnit);
  // Cut at member boundaries or not, and twice inside the second member's deflate data.
  for (const std::vector<size_t>& order :
       {std::vector<size_t>{1, 0}, {2, 0, 1}, {0, 2, 1}, {1, 2, 0}, {0, 2, 1, 3}}) {
    const std::vector<size_t> cuts = order.size() == 2 ? std::vector<size_t>{5 * kUnit}
                                     : order.size() == 3
                                         ? std::vector<size_t>{7 * kUnit, 9 * kUnit}
                                         : std::vector<size_t>{3 * kUnit, 7 * kUnit, 9 * kUnit};
    TempDir dir;
    const auto scan = testing::ScanImage(OutOfOrder(zip, cuts, order), dir);
    ASSERT_EQ(scan->files.size(), 1u) << order.size() << " pieces, first " << order[0];
    EXPECT_EQ(scan->File(scan->files[0]), zip);
  }
  // A document whose directory lies before its start keeps its Office name.
  const Bytes document = WordDocument();
  ASSERT_GT(document.size(), 6 * kUnit);
  TempDir dir;
  const auto scan =
      testing::ScanImage(OutOfOrder(document, {2 * kUnit, 4 * kUnit}, {2, 0, 1}), dir);
  ASSERT_EQ(scan->files.size(), 1u);
  EXPECT_TRUE(scan->files[0].ends_with(".DOCX")) << scan->files[0];
  EXPECT_EQ(scan->File(scan->files[0]), document);
}

// A workbook as Python's zipfile writes it: its sheet part deflates to about 20 KiB of one
// member's data, which cuts at 12 KiB and 20 KiB fall inside.
Bytes SheetWorkbook() {
  return testing::MakeWithTool(
      "python3 -c \"import zipfile, random\n"
      "r = random.Random(7)\n"
      "words = ['minutes', 'budget', 'item', 'agreed', 'report', 'kestrel', 'meeting']\n"
      "rows = ''.join('<row r=%d><c><v>%s</v></c></row>' % (i, r.choice(words) + "
      "str(r.randrange(99999))) for i in range(3000))\n"
      "with zipfile.ZipFile('out', 'w', zipfile.ZIP_DEFLATED) as z:\n"
      "  z.writestr('[Content_Types].xml', '<Types/>')\n"
      "  z.writestr('xl/worksheets/sheet1.xml', '<worksheet>' + rows + '</worksheet>')\n"
      "  z.writestr('xl/workbook.xml', '<workbook/>')\"");
}

// The sheet cut twice with long gaps of random bytes after its pieces: random bytes inflate on
// to the member's end from many first cuts, as far as its own bytes do.
TEST(ZipReassembly, MemberCutTwiceAroundLongRandomGapsComesBackWhole) {
  const Bytes workbook = SheetWorkbook();
  if (workbook.empty()) GTEST_SKIP() << "python3 is not installed";
  ASSERT_GT(workbook.size(), 5 * kUnit);
  ExpectComesBackWhole(workbook, {3 * kUnit, 5 * kUnit},
                       {RandomBytes(30 * kUnit, 31), RandomBytes(300 * kUnit, 32)});
}

// The sheet cut twice, its pieces out of order, the middle one a single unit: foreign bytes
// inflate with the sheet's Huffman codes about as far as its own do, but soon stop reading as XML.
TEST(ZipReassembly, SheetCutTwiceOutOfOrderComesBackWhole) {
  const Bytes workbook = SheetWorkbook();
  if (workbook.empty()) GTEST_SKIP() << "python3 is not installed";
  ASSERT_GT(workbook.size(), 5 * kUnit);
  TempDir dir;
  const auto scan =
      testing::ScanImage(OutOfOrder(workbook, {3 * kUnit, 4 * kUnit}, {0, 2, 1}), dir);
  ASSERT_EQ(scan->files.size(), 1u);
  EXPECT_TRUE(scan->files[0].ends_with(".XLSX")) << scan->files[0];
  EXPECT_EQ(scan->File(scan->files[0]), workbook);
}

// An archive as Python's zipfile writes it, with 160,000 random bytes that deflate keeps as
// stored blocks of about 32 KiB (from about 10 KiB into the archive on), behind a text member of
// about 10 KiB deflated;
// with `kept_in_another`, that archive stored as the one member of another.
Bytes ArchiveWithStoredBlocks(bool kept_in_another = false) {
  return testing::MakeWithTool(
      "python3 -c \"import zipfile, random, io\n"
      "r = random.Random(5)\n"
      "b = io.BytesIO()\n"
      "with zipfile.ZipFile(b, 'w', zipfile.ZIP_DEFLATED) as z:\n"
      "  z.writestr('notes.txt', ' '.join(str(r.randrange(10**6)) for _ in range(3000)))\n"
      "  z.writestr('blob.bin', bytes(r.randrange(256) for _ in range(160000)))\n"
      "if " +
      std::string(kept_in_another ? "True" : "False") +
      ":\n"
      "  with zipfile.ZipFile('out', 'w', zipfile.ZIP_STORED) as z:\n"
      "    z.writestr('inner.zip', b.getvalue())\n"
      "else:\n"
      "  open('out', 'wb').write(b.getvalue())\"");
}

// A ZIP stored in a ZIP, cut twice inside the inner archive: the outer member's bytes show
// nothing, the inner archive's records place the cuts. In order (inside its stored blocks, with
// long gaps) by its directory; out of order, its last piece first (inside its text member and its
// stored blocks), by its records followed across the cuts.
TEST(ZipReassembly, ArchiveStoredInAnArchiveCutTwiceComesBackWhole) {
  const Bytes zip = ArchiveWithStoredBlocks(true);
  if (zip.empty()) GTEST_SKIP() << "python3 is not installed";
  ASSERT_GT(zip.size(), 40 * kUnit);
  ExpectComesBackWhole(zip, {12 * kUnit, 20 * kUnit},
                       {RandomBytes(30 * kUnit, 34), RandomBytes(100 * kUnit, 35)});
  TempDir dir;
  const auto scan = testing::ScanImage(OutOfOrder(zip, {2 * kUnit, 20 * kUnit}, {2, 0, 1}), dir);
  ASSERT_EQ(scan->files.size(), 1u);
  EXPECT_EQ(scan->File(scan->files[0]), zip);
}

// Cuts inside stored blocks, far from the next block's header, where nothing shows them: the
// pieces out of order come back by the member's CRC-32, and nothing is written when a unit of the
// stored data is another file's.
TEST(ZipReassembly, MemberOfStoredBlocksCutInsideItsBlocksComesBackOutOfOrder) {
  const Bytes zip = ArchiveWithStoredBlocks();
  if (zip.empty()) GTEST_SKIP() << "python3 is not installed";
  ASSERT_GT(zip.size(), 40 * kUnit);
  const std::vector<size_t> cuts = {12 * kUnit, 20 * kUnit, 28 * kUnit};
  {
    TempDir dir;
    const auto scan = testing::ScanImage(OutOfOrder(zip, cuts, {0, 2, 1, 3}), dir);
    ASSERT_EQ(scan->files.size(), 1u);
    EXPECT_EQ(scan->File(scan->files[0]), zip);
  }
  // The third piece, which lies second, has its fourth unit overwritten.
  Bytes image = OutOfOrder(zip, cuts, {0, 2, 1, 3});
  const Bytes other = RandomBytes(kUnit, 33);
  std::copy(other.begin(), other.end(), image.begin() + (4 + 12 + 1 + 3) * kUnit);
  TempDir dir;
  EXPECT_TRUE(testing::ScanImage(image, dir)->files.empty());
}

TEST(ZipReassembly, OutOfOrderArchiveWithAPieceOverwrittenIsNotWritten) {
  if (!testing::HaveTool("zip")) GTEST_SKIP() << "zip is not installed";
  const Bytes zip = ArchiveOfThreeMembers();
  ASSERT_GT(zip.size(), 12 * kUnit);
  // The last piece lies first; a unit inside the middle piece is another file's now.
  Bytes image = OutOfOrder(zip, {3 * kUnit, 9 * kUnit}, {2, 0, 1});
  const size_t last_piece_units = (zip.size() - 9 * kUnit + kUnit - 1) / kUnit;
  const size_t middle = 4 * kUnit + (last_piece_units + 1 + 3 + 1) * kUnit + 2 * kUnit;
  const Bytes other = RandomBytes(kUnit, 8);
  std::copy(other.begin(), other.end(), image.begin() + static_cast<ptrdiff_t>(middle));
  TempDir dir;
  EXPECT_TRUE(testing::ScanImage(image, dir)->files.empty());
}

TEST(AsfReassembly, MovieInPiecesOutOfOrderComesBackWhole) {
  const Bytes wmv = FfmpegWmv();
  if (wmv.empty()) GTEST_SKIP() << "ffmpeg is not installed";
  ASSERT_GT(wmv.size(), 8 * kUnit);
  for (const std::vector<size_t>& order :
       {std::vector<size_t>{1, 0}, {2, 0, 1}, {0, 2, 1}, {1, 2, 0}}) {
    const std::vector<size_t> cuts = order.size() == 2 ? std::vector<size_t>{4 * kUnit}
                                                       : std::vector<size_t>{3 * kUnit, 6 * kUnit};
    // The source may end before the stated size a later piece would run to when it lay on.
    const Bytes image = OutOfOrder(wmv, cuts, order);
    TempDir dir;
    const auto scan = testing::ScanImage(image, dir);
    ASSERT_EQ(scan->files.size(), 1u) << order.size() << " pieces, first " << order[0];
    EXPECT_EQ(scan->File(scan->files[0]), wmv);
  }
  // The middle piece lost: nothing is written.
  Bytes lost = wmv;
  const Bytes other = RandomBytes(kUnit, 12);
  std::copy(other.begin(), other.end(), lost.begin() + 4 * kUnit);
  TempDir dir;
  EXPECT_TRUE(
      testing::ScanImage(OutOfOrder(lost, {3 * kUnit, 6 * kUnit}, {2, 0, 1}), dir)->files.empty());
}

// Another movie made alike (the same pictures, another sound) lies whole between the pieces: its
// unit at the place of the cut takes the seam too (one packet size, media objects of the same
// sizes) and runs on further than the true next piece, but it is that movie's own. Both come
// back, each whole.
TEST(AsfReassembly, AMovieMadeAlikeDoesNotTakeTheCut) {
  const Bytes wmv = FfmpegWmv();
  if (wmv.empty()) GTEST_SKIP() << "ffmpeg is not installed";
  const Bytes alike = testing::MakeWithTool(
      "ffmpeg -v error -f lavfi -i testsrc=duration=2:size=160x120:rate=25 -f lavfi -i "
      "sine=duration=2:frequency=1000 -c:v wmv2 -c:a wmav2 -f asf out");
  ASSERT_GT(wmv.size(), 8 * kUnit);
  ASSERT_GT(alike.size(), 8 * kUnit);
  const auto slice = [&wmv](size_t from, size_t to) {
    return Bytes(wmv.begin() + static_cast<ptrdiff_t>(from),
                 wmv.begin() + static_cast<ptrdiff_t>(std::min(to, wmv.size())));
  };
  Bytes image(4 * kUnit, 0);
  for (const Bytes& part :
       {slice(0, 3 * kUnit), RandomBytes(kUnit, 30), alike, slice(6 * kUnit, wmv.size()),
        RandomBytes(kUnit, 31), slice(3 * kUnit, 6 * kUnit), RandomBytes(kUnit, 32)}) {
    image.insert(image.end(), part.begin(), part.end());
    image.resize((image.size() + kUnit - 1) / kUnit * kUnit, 0);
  }
  TempDir dir;
  const auto scan = testing::ScanImage(image, dir);
  std::vector<Bytes> files;
  for (const auto& file : scan->files) files.push_back(scan->File(file));
  EXPECT_EQ(files, (std::vector<Bytes>{wmv, alike}));
}

// A1 B1 A2 B2 A3 B3: each stream's gaps are the other's pieces.
Bytes Intertwined(const Bytes& a, const Bytes& b) {
  Bytes image(4 * kUnit, 0);
  const size_t cuts[] = {0, 4 * kUnit, 9 * kUnit};
  for (size_t i = 0; i < 3; ++i) {
    for (const Bytes* file : {&a, &b}) {
      const size_t to = i + 1 < 3 ? cuts[i + 1] : file->size();
      image.insert(image.end(), file->begin() + static_cast<ptrdiff_t>(cuts[i]),
                   file->begin() + static_cast<ptrdiff_t>(to));
      image.resize((image.size() + kUnit - 1) / kUnit * kUnit, 0);
    }
  }
  image.resize(image.size() + 4 * kUnit, 0);
  return image;
}

TEST(Mp3Reassembly, TwoIntertwinedStreamsOfOneEncodingComeBackOrNotAtAll) {
  // Tags of different lengths: the frames of the two streams lie on different grids.
  const Bytes a = NoiseMp3(2), b = NoiseMp3(3, "-metadata title=Kestrel");
  // Tags of one length: each stream's frames go on as well in the other's pieces, and the place
  // of no piece is known.
  const Bytes twin = NoiseMp3(5);
  if (a.empty() || b.empty() || twin.empty()) GTEST_SKIP() << "ffmpeg is not installed";
  {
    TempDir dir;
    const auto scan = testing::ScanImage(Intertwined(a, b), dir);
    ASSERT_EQ(scan->files.size(), 2u);
    EXPECT_EQ(scan->File(scan->files[0]), a);
    EXPECT_EQ(scan->File(scan->files[1]), b);
  }
  TempDir dir;
  const auto scan = testing::ScanImage(Intertwined(a, twin), dir);
  for (const auto& file : scan->files) {
    const Bytes bytes = scan->File(file);
    EXPECT_TRUE(bytes == a || bytes == twin) << "a file of " << bytes.size() << " bytes mixes them";
  }
}

// A stream without an ID3v2 tag starts right where another of its encoding is cut: the frame
// the other's carve cut off reaches into its first sector, which is looked at again once the
// other went on elsewhere, and the stream found there is followed past that sector to its end.
TEST(Mp3Reassembly, StreamStartingWhereAnotherIsCutComesBackWhole) {
  const Bytes cut = NoiseMp3(7), untagged = NoiseMp3(8, "-id3v2_version 0 -write_id3v1 1");
  if (cut.empty() || untagged.empty()) GTEST_SKIP() << "ffmpeg is not installed";
  ASSERT_EQ(untagged[0], 0xFF);
  Bytes gap = untagged;
  gap.resize((gap.size() + kUnit - 1) / kUnit * kUnit, 0);
  TempDir dir;
  const auto scan = testing::ScanImage(Fragmented(cut, {3 * kUnit}, {gap}), dir);
  ASSERT_EQ(scan->files.size(), 2u);
  EXPECT_EQ(scan->File(scan->files[0]), cut);
  EXPECT_EQ(scan->File(scan->files[1]), untagged);
}

TEST(Mp3Reassembly, PiecesOfAStreamWithoutTagsAreNoStreamsOfTheirOwn) {
  // No tag and no Xing frame: nothing but the frames tells where such a stream starts and ends.
  const Bytes mp3 = NoiseMp3(6, "-id3v2_version 0 -write_xing 0");
  if (mp3.empty()) GTEST_SKIP() << "ffmpeg is not installed";
  ASSERT_EQ(mp3[0], 0xFF);
  ASSERT_GT(mp3.size(), 12 * kUnit);
  const std::vector<size_t> cuts = {3 * kUnit, 6 * kUnit, 9 * kUnit};
  for (const std::vector<size_t>& order :
       {std::vector<size_t>{0, 1, 2, 3}, {0, 2, 1, 3}, {2, 0, 3, 1}}) {
    TempDir dir;
    const auto scan = testing::ScanImage(OutOfOrder(mp3, cuts, order), dir);
    for (const auto& file : scan->files) {
      EXPECT_EQ(scan->File(file), mp3) << file << " of " << scan->File(file).size() << " bytes";
    }
  }
}

TEST(Mp3Reassembly, StreamWithItsLastPieceOverwrittenIsNotWritten) {
  Bytes mp3 = NoiseMp3(4);
  if (mp3.empty()) GTEST_SKIP() << "ffmpeg is not installed";
  const Bytes other = RandomBytes(mp3.size() - 10 * kUnit, 13);
  std::copy(other.begin(), other.end(), mp3.begin() + 10 * kUnit);
  TempDir dir;
  const auto scan = testing::ScanImage(Fragmented(mp3, {5 * kUnit}, {TextBytes(kUnit)}), dir);
  EXPECT_TRUE(scan->files.empty());
}

bool StartCodeAt(const Bytes& stream, size_t at, uint8_t id) {
  return stream.size() > at + 4 && stream[at] == 0 && stream[at + 1] == 0 && stream[at + 2] == 1 &&
         stream[at + 3] == id;
}

// A pack at `at` without a system header after it.
bool PlainPackAt(const Bytes& stream, size_t at) {
  if (!StartCodeAt(stream, at, 0xBA)) return false;
  const bool mpeg2 = (stream[at + 4] & 0xC0) == 0x40;
  const size_t length = mpeg2 ? 14 + (stream[at + 13] & 7u) : 12;
  return !StartCodeAt(stream, at + length, 0xBB);
}

TEST(MpegPieces, ALaterPieceOfAStreamIsNoStreamOfItsOwn) {
  const std::vector<testing::MediaFile>& streams = testing::FfmpegProgramStreams();
  if (streams.empty()) GTEST_SKIP() << "ffmpeg is not installed";
  for (const testing::MediaFile& stream : streams) {
    // Every navigation pack of a DVD stream holds a system header: a VOB file may start there.
    if (stream.name.find("dvd") != std::string::npos) continue;
    // The stream's tail from a pack on a unit boundary, after its head was overwritten.
    size_t cut = kUnit;
    while (cut < stream.bytes.size() && !PlainPackAt(stream.bytes, cut)) cut += kUnit;
    if (cut >= stream.bytes.size()) continue;
    Bytes image(4 * kUnit, 0);
    image.insert(image.end(), stream.bytes.begin() + static_cast<ptrdiff_t>(cut),
                 stream.bytes.end());
    image.resize((image.size() + kUnit - 1) / kUnit * kUnit + 4 * kUnit, 0);
    TempDir dir;
    const auto scan = testing::ScanImage(image, dir);
    EXPECT_TRUE(scan->files.empty()) << stream.name;
  }
}

// Two seconds of MPEG-1 video in packs of 3000 bytes (a cut on a unit boundary falls inside a
// packet), and of MPEG-2 video in DVD-style packs of 2 KiB; ffmpeg writes no end code.
std::vector<Bytes> FragmentedProgramStreams() {
  if (!testing::HaveTool("ffmpeg")) return {};
  const std::string input =
      "ffmpeg -v error -f lavfi -i testsrc2=size=160x120:rate=25:duration=2 -f lavfi -i "
      "sine=duration=2 -b:v 400k -c:a mp2 ";
  return {testing::MakeWithTool(input + "-c:v mpeg1video -f mpeg -packetsize 3000 out"),
          testing::MakeWithTool(input + "-c:v mpeg2video -f vob out")};
}

TEST(MpegReassembly, StreamsInPiecesComeBackWholeInOrderAndOutOfOrder) {
  const std::vector<Bytes> streams = FragmentedProgramStreams();
  if (streams.empty()) GTEST_SKIP() << "ffmpeg is not installed";
  for (const Bytes& stream : streams) {
    ASSERT_GT(stream.size(), 24 * kUnit);
    ExpectComesBackWhole(stream, {5 * kUnit, 13 * kUnit},
                         {RandomBytes(2 * kUnit, 30), TextBytes(kUnit)});
    for (const std::vector<size_t>& order :
         {std::vector<size_t>{1, 0}, {2, 0, 1}, {0, 2, 1}, {1, 2, 0}}) {
      const std::vector<size_t> cuts = order.size() == 2
                                           ? std::vector<size_t>{9 * kUnit}
                                           : std::vector<size_t>{4 * kUnit, 15 * kUnit};
      TempDir dir;
      const auto scan = testing::ScanImage(OutOfOrder(stream, cuts, order), dir);
      ASSERT_EQ(scan->files.size(), 1u) << order.size() << " pieces, first " << order[0];
      EXPECT_EQ(scan->File(scan->files[0]), stream);
    }
  }
}

// Three and four seconds of one picture and sound, DVD-style, one after the other: the shorter
// ends on a unit boundary without an end code, and the longer's packs at a later moment go on
// with its clock. The longer one's sound, a third of a second on, does not go on with the
// shorter's: each comes back as it is, and nothing joins them.
TEST(MpegReassembly, AStreamThatEndsIsNotRunOnIntoALongerOneOfItsSettings) {
  if (!testing::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  std::vector<Bytes> streams;
  for (const char* seconds : {"3", "4"}) {
    streams.push_back(testing::MakeWithTool(
        std::string("ffmpeg -v error -f lavfi -i testsrc2=size=160x120:rate=25:duration=") +
        seconds + " -f lavfi -i sine=duration=" + seconds +
        " -b:v 400k -c:a mp2 -c:v mpeg2video -f vob out"));
  }
  ASSERT_EQ(streams[0].size() % kUnit, 0u);
  Bytes image(4 * kUnit, 0);
  for (const Bytes& stream : streams) {
    image.insert(image.end(), stream.begin(), stream.end());
    image.resize((image.size() + kUnit - 1) / kUnit * kUnit, 0);
    const Bytes gap = RandomBytes(kUnit, 33);
    image.insert(image.end(), gap.begin(), gap.end());
  }
  image.resize(image.size() + 4 * kUnit, 0);
  TempDir dir;
  const auto scan = testing::ScanImage(image, dir);
  ASSERT_EQ(scan->files.size(), 2u);
  EXPECT_EQ(scan->File(scan->files[0]), streams[0]);
  EXPECT_EQ(scan->File(scan->files[1]), streams[1]);
}

TEST(MpegReassembly, StreamWithAPieceOverwrittenIsNotJoinedAcrossIt) {
  const std::vector<Bytes> streams = FragmentedProgramStreams();
  if (streams.empty()) GTEST_SKIP() << "ffmpeg is not installed";
  for (Bytes stream : streams) {
    ASSERT_GT(stream.size(), 24 * kUnit);
    const Bytes other = RandomBytes(kUnit, 31);
    std::copy(other.begin(), other.end(), stream.begin() + 8 * kUnit);
    TempDir dir;
    const auto scan =
        testing::ScanImage(OutOfOrder(stream, {4 * kUnit, 15 * kUnit}, {2, 0, 1}), dir);
    // The stream stops where its chain does: no file reaches past the lost unit.
    for (const auto& file : scan->files) EXPECT_LE(scan->File(file).size(), 9 * kUnit);
  }
}

TEST(MpegReassembly, TheTailFromALaterSystemHeaderIsNoStream) {
  const std::vector<Bytes> streams = FragmentedProgramStreams();
  if (streams.empty()) GTEST_SKIP() << "ffmpeg is not installed";
  // ffmpeg's VOB muxer repeats the system header every 40 packs.
  const Bytes& vob = streams[1];
  size_t cut = kUnit;
  while (cut < vob.size() && !StartCodeAt(vob, cut + 14, 0xBB)) cut += kUnit;
  ASSERT_LT(cut, vob.size());
  Bytes image(4 * kUnit, 0);
  image.insert(image.end(), vob.begin() + static_cast<ptrdiff_t>(cut), vob.end());
  image.resize((image.size() + kUnit - 1) / kUnit * kUnit + 4 * kUnit, 0);
  TempDir dir;
  EXPECT_TRUE(testing::ScanImage(image, dir)->files.empty());
}

// Three seconds of MPEG-4 video and MP3 sound in an AVI (idx1 at its end), by ffmpeg.
Bytes MovieAvi() {
  if (!testing::HaveTool("ffmpeg")) return {};
  return testing::MakeWithTool(
      "ffmpeg -v error -f lavfi -i testsrc2=size=160x120:rate=25:duration=3 -f lavfi -i "
      "sine=duration=3 -c:v mpeg4 -b:v 300k -c:a libmp3lame -f avi out");
}

// Where the AVI's index places its chunk headers (file offsets), from the idx1 at its end.
std::vector<size_t> AviChunkHeads(const Bytes& avi) {
  std::vector<size_t> heads;
  const size_t idx1 = static_cast<size_t>(
      std::search(avi.begin(), avi.end(), std::begin("idx1"), std::end("idx1") - 1) - avi.begin());
  const size_t movi = static_cast<size_t>(
      std::search(avi.begin(), avi.end(), std::begin("movi"), std::end("movi") - 1) - avi.begin());
  for (size_t at = idx1 + 8; at + 16 <= avi.size(); at += 16) {
    heads.push_back(movi + LoadLe32(avi.data() + at + 8));
  }
  heads.push_back(idx1);
  return heads;
}

// Unit boundaries from `from` on where the AVI may be cut and put back together: the chunk cut
// holds no other boundary before the next header (the place of a cut inside a longer chunk is
// not known).
std::vector<size_t> AviCuts(const Bytes& avi, size_t from, size_t count) {
  const std::vector<size_t> heads = AviChunkHeads(avi);
  std::vector<size_t> cuts;
  for (size_t cut = from; cut < avi.size() && cuts.size() < count; cut += kUnit) {
    const auto next = std::lower_bound(heads.begin(), heads.end(), cut);
    if (next == heads.begin() || next == heads.end()) continue;
    if (*next - *(next - 1) < kUnit && cut > *(next - 1) + 8) cuts.push_back(cut);
  }
  return cuts;
}

TEST(AviReassembly, MovieInPiecesComesBackWholeInOrderAndOutOfOrder) {
  const Bytes avi = MovieAvi();
  if (avi.empty()) GTEST_SKIP() << "ffmpeg is not installed";
  const std::vector<size_t> cuts = AviCuts(avi, 8 * kUnit, 2);
  ASSERT_EQ(cuts.size(), 2u);
  ExpectComesBackWhole(avi, cuts, {RandomBytes(2 * kUnit, 40), TextBytes(kUnit)});
  for (const std::vector<size_t>& order : {std::vector<size_t>{2, 0, 1}, {0, 2, 1}}) {
    TempDir dir;
    const auto scan = testing::ScanImage(OutOfOrder(avi, cuts, order), dir);
    ASSERT_EQ(scan->files.size(), 1u) << "first " << order[0];
    EXPECT_EQ(scan->File(scan->files[0]), avi);
  }
}

TEST(AviReassembly, MovieWithAPieceOverwrittenIsNotWritten) {
  Bytes avi = MovieAvi();
  if (avi.empty()) GTEST_SKIP() << "ffmpeg is not installed";
  const std::vector<size_t> cuts = AviCuts(avi, 8 * kUnit, 2);
  ASSERT_EQ(cuts.size(), 2u);
  // The unit after the first cut, which holds the header the cut went on to.
  const Bytes other = RandomBytes(kUnit, 41);
  std::copy(other.begin(), other.end(), avi.begin() + static_cast<ptrdiff_t>(cuts[0]));
  TempDir dir;
  EXPECT_TRUE(testing::ScanImage(OutOfOrder(avi, cuts, {2, 0, 1}), dir)->files.empty());
}

// Eight seconds of MPEG-4 video at 5 frames a second and 1 Mbit/s (frames of about 25 KiB, several
// units each) and MP3 sound in an AVI, by ffmpeg of `source`: its index spans a unit boundary.
Bytes LongFramesAvi(const std::string& source) {
  if (!testing::HaveTool("ffmpeg")) return {};
  return testing::MakeWithTool("ffmpeg -v error -f lavfi -i " + source +
                               "=size=320x240:rate=5:duration=8 -f lavfi -i sine=duration=8 -c:v "
                               "mpeg4 -b:v 1M -c:a libmp3lame -f avi out");
}

// A unit boundary from `from` on inside a chunk with a whole unit of its data on either side: no
// header tells which units between the cut and the next header are the file's.
size_t LongFrameCut(const Bytes& avi, size_t from) {
  const std::vector<size_t> heads = AviChunkHeads(avi);
  for (size_t cut = from; cut < avi.size(); cut += kUnit) {
    const auto next = std::lower_bound(heads.begin(), heads.end(), cut);
    if (next == heads.begin() || next == heads.end()) continue;
    if (*(next - 1) + 8 + kUnit <= cut && cut + kUnit <= *next) return cut;
  }
  return 0;
}

// A movie cut inside its header (before the movie list), inside a frame several units long and
// inside its index, with random bytes and text between its pieces or its pieces out of order:
// the header's chunks, the frame's units that read as coded video and the index's entries tell
// which units are its own.
TEST(AviReassembly, MovieCutInItsHeaderALongFrameAndItsIndexComesBackWhole) {
  const Bytes avi = LongFramesAvi("testsrc2");
  if (avi.empty()) GTEST_SKIP() << "ffmpeg is not installed";
  const size_t frame_cut = LongFrameCut(avi, 8 * kUnit);
  const size_t index_cut = (AviChunkHeads(avi).back() + 8 + 16) / kUnit * kUnit + kUnit;
  ASSERT_NE(frame_cut, 0u);
  ASSERT_LT(index_cut, avi.size());
  const std::vector<size_t> cuts = {kUnit, frame_cut, index_cut};
  ExpectComesBackWhole(avi, cuts,
                       {RandomBytes(kUnit, 42), RandomBytes(kUnit, 43), TextBytes(kUnit)});
  for (const std::vector<size_t>& order : {std::vector<size_t>{0, 2, 1, 3}, {3, 1, 0, 2}}) {
    TempDir dir;
    const auto scan = testing::ScanImage(OutOfOrder(avi, cuts, order), dir);
    ASSERT_EQ(scan->files.size(), 1u) << "first " << order[0];
    EXPECT_EQ(scan->File(scan->files[0]), avi);
  }
}

// Between the pieces of a frame cut in the middle, a unit of another movie's frame: it reads as
// coded video as well as the frame's own next unit, so where the cut lies is not known.
TEST(AviReassembly, LongFrameWithAnotherMoviesFrameBetweenItsPiecesIsNotWritten) {
  const Bytes avi = LongFramesAvi("testsrc2");
  const Bytes other = LongFramesAvi("testsrc");
  if (avi.empty() || other.empty()) GTEST_SKIP() << "ffmpeg is not installed";
  const size_t frame_cut = LongFrameCut(avi, 8 * kUnit);
  const size_t other_cut = LongFrameCut(other, 8 * kUnit);
  ASSERT_NE(frame_cut, 0u);
  ASSERT_NE(other_cut, 0u);
  const Bytes foreign(other.begin() + static_cast<ptrdiff_t>(other_cut),
                      other.begin() + static_cast<ptrdiff_t>(other_cut + kUnit));
  TempDir dir;
  EXPECT_TRUE(testing::ScanImage(Fragmented(avi, {frame_cut}, {foreign}), dir)->files.empty());
}

// H.264 video and AAC sound in an MP4 by ffmpeg, `seconds` long, the movie box last or first
// (`flags` "-movflags +faststart"), and the file offsets of its video samples and sound frames
// (by ffprobe).
struct Mp4Movie {
  Bytes bytes;
  std::vector<size_t> video_samples;
  std::vector<size_t> sound_frames;
};

Mp4Movie MakeMp4Movie(const std::string& flags, int seconds = 3) {
  if (!testing::HaveTool("ffmpeg") || !testing::HaveTool("ffprobe")) return {};
  TempDir dir;
  const std::string path = dir / "movie.mp4";
  const std::string length = std::to_string(seconds);
  std::string video, sound;
  const std::string probe =
      "ffprobe -v error -show_entries packet=pos -of csv=p=0 -select_streams ";
  if (testing::RunCommand("ffmpeg -v error -f lavfi -i testsrc2=size=320x240:rate=25:duration=" +
                          length + " -f lavfi -i sine=duration=" + length +
                          " -c:v libx264 -preset veryfast -pix_fmt yuv420p -b:v 400k -c:a aac " +
                          flags + " -shortest " + path) != 0 ||
      testing::RunCommand(probe + "v " + path, &video) != 0 ||
      testing::RunCommand(probe + "a " + path, &sound) != 0) {
    return {};
  }
  Mp4Movie movie{testing::ReadFileBytes(path), {}, {}};
  for (auto [listing, offsets] :
       {std::pair{&video, &movie.video_samples}, std::pair{&sound, &movie.sound_frames}}) {
    std::replace(listing->begin(), listing->end(), ',', ' ');  // a packet's side data adds a field
    std::istringstream lines(*listing);
    for (size_t pos = 0; lines >> pos;) offsets->push_back(pos);
    std::sort(offsets->begin(), offsets->end());
  }
  return movie;
}

// Whether the movie ends (with its media data) in the unit where its last video sample's first
// NAL unit header lies: no cut can fall between them.
bool EndsInLastSampleUnit(const Mp4Movie& movie) {
  return !movie.video_samples.empty() &&
         (movie.bytes.size() - 1) / kUnit * kUnit <= movie.video_samples.back() + 5;
}

// Whether two sound frames start after every unit boundary past the last video sample's header.
bool SoundFramesAfterEveryTailBoundary(const Mp4Movie& movie) {
  for (size_t boundary = (movie.video_samples.back() + 5) / kUnit * kUnit + kUnit;
       boundary < movie.bytes.size(); boundary += kUnit) {
    const auto after =
        std::lower_bound(movie.sound_frames.begin(), movie.sound_frames.end(), boundary);
    if (movie.sound_frames.end() - after < 2) return false;
  }
  return true;
}

// Unit boundaries from `from` on where the movie may be cut and put back together: the video
// samples on either side of the cut start less than a unit apart (the place of a cut inside a
// longer stretch without a sample start is not known).
std::vector<size_t> Mp4Cuts(const Mp4Movie& movie, size_t from, size_t count) {
  const std::vector<size_t>& starts = movie.video_samples;
  std::vector<size_t> cuts;
  for (size_t cut = from; cut < movie.bytes.size() && cuts.size() < count; cut += 2 * kUnit) {
    const auto next = std::lower_bound(starts.begin(), starts.end(), cut);
    if (next == starts.begin() || next == starts.end()) continue;
    if (*next - *(next - 1) + 8 < kUnit && cut > *(next - 1) + 8) cuts.push_back(cut);
  }
  return cuts;
}

// The movie cut at `cuts` comes back exactly, in order with foreign units between its pieces and
// out of order.
void ExpectMp4ComesBackWhole(const Mp4Movie& movie, const std::vector<size_t>& cuts) {
  ExpectComesBackWhole(movie.bytes, cuts, {RandomBytes(2 * kUnit, 50), TextBytes(kUnit)});
  for (const std::vector<size_t>& order : {std::vector<size_t>{2, 0, 1}, {0, 2, 1}}) {
    TempDir dir;
    const auto scan = testing::ScanImage(OutOfOrder(movie.bytes, cuts, order), dir);
    ASSERT_EQ(scan->files.size(), 1u) << "first " << order[0];
    EXPECT_EQ(scan->File(scan->files[0]), movie.bytes);
  }
}

TEST(MovReassembly, MovieBoxLastInPiecesComesBackWhole) {
  const Mp4Movie movie = MakeMp4Movie("");
  if (movie.bytes.empty()) GTEST_SKIP() << "ffmpeg with libx264 is not installed";
  const std::vector<size_t> cuts = Mp4Cuts(movie, 4 * kUnit, 2);
  ASSERT_EQ(cuts.size(), 2u);
  ExpectMp4ComesBackWhole(movie, cuts);
  // The last boundary lies inside the movie box (the last atom) when the box crosses one.
  const size_t in_movie_box = (movie.bytes.size() - 1) / kUnit * kUnit;
  ExpectMp4ComesBackWhole(movie, {cuts[0], in_movie_box});
}

TEST(MovReassembly, MovieBoxFirstInPiecesComesBackWholeUnlessItsTailCouldBeCut) {
  // Movies of two to seven seconds. After its last video sample a movie holds only sound frames,
  // which start the way the encoder starts every frame (a single channel element): one that ends
  // in its last video sample's unit comes back, and so does one with two frames after every unit
  // boundary there; one whose last unit could lie anywhere (no frame after its boundary tells) is
  // not written.
  std::set<std::string> seen;
  for (int seconds = 2; seconds <= 7; ++seconds) {
    const Mp4Movie movie = MakeMp4Movie("-movflags +faststart", seconds);
    if (movie.bytes.empty()) GTEST_SKIP() << "ffmpeg with libx264 is not installed";
    const std::vector<size_t> cuts = Mp4Cuts(movie, 2 * kUnit, 2);
    ASSERT_EQ(cuts.size(), 2u);
    const std::string tail = EndsInLastSampleUnit(movie) ? "in the last sample's unit"
                             : SoundFramesAfterEveryTailBoundary(movie) ? "told by its sound"
                                                                        : "could be cut";
    if (!seen.insert(tail).second) continue;
    SCOPED_TRACE(std::to_string(seconds) + " s, its tail " + tail);
    if (tail != "could be cut") {
      ExpectMp4ComesBackWhole(movie, cuts);
    } else {
      TempDir dir;
      EXPECT_TRUE(testing::ScanImage(OutOfOrder(movie.bytes, cuts, {0, 2, 1}), dir)->files.empty());
    }
  }
  EXPECT_EQ(seen.size(), 3u);
}

TEST(MovReassembly, MovieWithAPieceOverwrittenIsNotWritten) {
  for (const std::string flags : {"", "-movflags +faststart"}) {
    Mp4Movie movie = MakeMp4Movie(flags);
    if (movie.bytes.empty()) GTEST_SKIP() << "ffmpeg with libx264 is not installed";
    const std::vector<size_t> cuts = Mp4Cuts(movie, 4 * kUnit, 2);
    ASSERT_EQ(cuts.size(), 2u);
    // The unit after the first cut, which holds the sample the cut went on to.
    const Bytes other = RandomBytes(kUnit, 51);
    std::copy(other.begin(), other.end(), movie.bytes.begin() + static_cast<ptrdiff_t>(cuts[0]));
    TempDir dir;
    EXPECT_TRUE(testing::ScanImage(OutOfOrder(movie.bytes, cuts, {2, 0, 1}), dir)->files.empty())
        << flags;
  }
}

TEST(MovReassembly, TwoMovieBoxesThatFitAlikeLeaveTheMovieUnwritten) {
  const Mp4Movie movie = MakeMp4Movie("");
  if (movie.bytes.empty()) GTEST_SKIP() << "ffmpeg with libx264 is not installed";
  const std::vector<size_t> cuts = Mp4Cuts(movie, 4 * kUnit, 1);
  ASSERT_EQ(cuts.size(), 1u);
  const auto moov = std::search(movie.bytes.begin(), movie.bytes.end(), std::begin("moov"),
                                std::end("moov") - 1) -
                    4;
  const auto stts = std::search(moov, movie.bytes.end(), std::begin("stts"), std::end("stts") - 1);
  ASSERT_NE(stts, movie.bytes.end());
  const size_t phase = static_cast<size_t>(moov - movie.bytes.begin()) % kUnit;
  // After the movie, at the movie box's place in a unit: a copy of the box (copies are one), or a
  // box that differs in the first sample's duration, which no check can tell from the movie's.
  for (const bool differs : {false, true}) {
    Bytes box(moov, movie.bytes.end());
    if (differs) box[static_cast<size_t>(stts - moov) + 16] ^= 1;
    Bytes image = Fragmented(movie.bytes, cuts, {RandomBytes(kUnit, 52)});
    image.resize(image.size() + phase, 0);
    image.insert(image.end(), box.begin(), box.end());
    image.resize((image.size() + kUnit - 1) / kUnit * kUnit + 4 * kUnit, 0);
    TempDir dir;
    const auto scan = testing::ScanImage(image, dir);
    if (differs) {
      EXPECT_TRUE(scan->files.empty());
    } else {
      ASSERT_EQ(scan->files.size(), 1u);
      EXPECT_EQ(scan->File(scan->files[0]), movie.bytes);
    }
  }
}

}  // namespace
}  // namespace kestrel
