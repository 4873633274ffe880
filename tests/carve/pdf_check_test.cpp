// Telling a whole PDF from a broken one by its cross-reference data and its streams: PDFs of
// ghostscript, LibreOffice, GraphicsMagick and qpdf (tables, cross-reference and object streams,
// linearised files, incremental updates) and the shared samples are whole; the same files with a
// 4 KiB block of foreign bytes, a block missing, another PDF's tail or cut short are not; files
// without cross-reference data are left unchecked, and hostile tables end quickly.

#include "carve/formats/pdf_check.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "carve/formats/pdf.h"
#include "support/carve_harness.h"
#include "support/damaged_files.h"
#include "support/pdf_files.h"

namespace kestrel {
namespace {

using testing::ToolPdfs;

Whole CheckPdf(const Bytes& pdf) {
  MemorySource source(pdf);
  return CheckPdf(source, 0, pdf.size());
}

Whole CheckPdf(const std::string& pdf) {
  return CheckPdf(testing::Bytes(pdf));
}

std::string TableEntry(size_t offset, char type = 'n') {
  char entry[24];
  std::snprintf(entry, sizeof entry, "%010zu 00000 %c \n", offset, type);
  return entry;
}

// A PDF of `objects` (numbered from 1) with one cross-reference table that gives the objects
// the offsets `place` returns (by default their own).
std::string TablePdf(const std::vector<std::string>& objects,
                     size_t (*place)(size_t number, size_t offset) = nullptr) {
  std::string pdf = "%PDF-1.4\n";
  std::vector<size_t> offsets;
  for (size_t k = 0; k < objects.size(); ++k) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(k + 1) + " 0 obj\n" + objects[k] + "\nendobj\n";
  }
  const size_t xref = pdf.size();
  pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n" + TableEntry(0, 'f');
  for (size_t k = 0; k < offsets.size(); ++k) {
    pdf += TableEntry(place != nullptr ? place(k + 1, offsets[k]) : offsets[k]);
  }
  pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) +
         " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}

// ---------------------------------------------------------------------------------------------
// Whole files.

TEST(PdfCheck, FilesOfEveryWriterAreWhole) {
  const auto& pdfs = ToolPdfs();
  if (pdfs.empty()) GTEST_SKIP() << "no PDF writer (gs, soffice, gm, qpdf) is installed";
  for (const auto& pdf : pdfs) EXPECT_EQ(CheckPdf(pdf.bytes), Whole::kYes) << pdf.name;
  EXPECT_EQ(
      CheckPdf(TablePdf({"<< /Type /Catalog >>", "<< /Length 5 >>\nstream\nabcde\nendstream"})),
      Whole::kYes);
}

TEST(PdfCheck, SharedSamplesAreWhole) {
  const std::string samples = testing::SamplesDir();
  if (samples.empty()) GTEST_SKIP() << "shared samples folder missing";
  // PDF2.pdf holds a short Flate stream whose checksum is wrong: readers take it, so does this.
  for (const char* name : {"PDF.pdf", "PDF2.pdf"}) {
    const Bytes pdf = testing::ReadFileBytes(samples + "/exiftool-t-images/" + name);
    ASSERT_FALSE(pdf.empty()) << name;
    EXPECT_EQ(CheckPdf(pdf), Whole::kYes) << name;
  }
}

TEST(PdfCheck, FilesWithoutCrossReferenceDataAreUnchecked) {
  EXPECT_EQ(CheckPdf("%PDF-1.4\n1 0 obj <<>> endobj\ntrailer <<>>\n%%EOF\n"), Whole::kUnchecked);
  EXPECT_EQ(CheckPdf("%PDF-1.4\n1 0 obj <<>> endobj\nstartxref\n0\n%%EOF\n"), Whole::kUnchecked);
  const auto zero = [](size_t, size_t) { return size_t{0}; };
  EXPECT_EQ(CheckPdf(TablePdf({"<<>>", "<<>>"}, zero)), Whole::kUnchecked) << "all offsets 0";
}

// ---------------------------------------------------------------------------------------------
// Broken files.

TEST(PdfCheck, ForeignBytesMissingBytesAndCutFilesAreNotWhole) {
  const auto& pdfs = ToolPdfs();
  if (pdfs.size() < 2) GTEST_SKIP() << "too few PDF writers are installed";
  const auto variants = testing::DamagedVariantsOf(pdfs);
  for (const auto& variant : variants)
    EXPECT_EQ(CheckPdf(variant.bytes), Whole::kNo) << variant.what;
  EXPECT_GT(variants.size(), 50u) << "the writers' files are long enough to break block by block";
}

TEST(PdfCheck, StreamsMustEndAtTheirLength) {
  const std::string stream = "<< /Length 5 >>\nstream\nabcde\nendstream";
  EXPECT_EQ(CheckPdf(TablePdf({"<<>>", "<< /Length 4 >>\nstream\nabcde\nendstream"})), Whole::kNo);
  EXPECT_EQ(CheckPdf(TablePdf({"<<>>", "<< /Length 99 >>\nstream\nabcde\nendstream"})), Whole::kNo);
  EXPECT_EQ(CheckPdf(TablePdf({"<<>>", "<< /Length 5 >>\r\nstream\r\nabcde\r\nendstream"})),
            Whole::kYes);
  // An indirect length, looked up in the table.
  EXPECT_EQ(CheckPdf(TablePdf({"<< /Length 2 0 R >>\nstream\nabcde\nendstream", "5"})),
            Whole::kYes);
  EXPECT_EQ(CheckPdf(TablePdf({"<< /Length 2 0 R >>\nstream\nabcde\nendstream", "9"})), Whole::kNo);
}

// ---------------------------------------------------------------------------------------------
// Hostile tables: a verdict, soon, whatever they claim.

TEST(PdfCheckBadInput, HostileTablesEndWithAVerdict) {
  std::string absurd = "%PDF-1.4\n1 0 obj <<>> endobj\n";
  const size_t xref = absurd.size();
  absurd += "xref\n0 100001\n" + TableEntry(0, 'f');
  for (int k = 0; k < 100000; ++k) absurd += TableEntry(9999999999);
  absurd += "trailer <<>>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  EXPECT_EQ(CheckPdf(absurd), Whole::kNo) << "100,000 offsets past the end";

  const auto at_first = [](size_t, size_t) { return size_t{9}; };
  EXPECT_EQ(CheckPdf(TablePdf(std::vector<std::string>(50000, "<<>>"), at_first)), Whole::kNo)
      << "every offset at one object";

  std::string counted = TablePdf({"<<>>"});
  counted.replace(counted.find("0 2\n"), 4, "0 999999999999\n");
  EXPECT_EQ(CheckPdf(counted), Whole::kNo) << "a count the table does not hold";

  EXPECT_EQ(CheckPdf(TablePdf({"<< /Length 18446744073709551615 >>\nstream\nab\nendstream"})),
            Whole::kNo);
  EXPECT_EQ(CheckPdf(TablePdf({"<< /A " + std::string(20000, '[') + " >>"})), Whole::kYes)
      << "nesting too deep to parse is not judged";
  EXPECT_EQ(CheckPdf("%PDF-1.4\nstartxref\n999999999999\n%%EOF\n"), Whole::kNo);
}

// Sections whose /Prev chain loops, onto itself or through another section, are read once each.
TEST(PdfCheckBadInput, PrevChainsThatLoopEnd) {
  const std::string body = "%PDF-1.4\n1 0 obj <<>> endobj\n";
  // Offsets written with ten digits, so that a section's length does not depend on them.
  const auto section = [](size_t prev) {
    char text[16];
    std::snprintf(text, sizeof text, "%010zu", prev);
    return "xref\n1 1\n" + TableEntry(9) + "trailer << /Prev " + text + " >>\n";
  };
  const auto ending = [](size_t startxref) {
    return "startxref\n" + std::to_string(startxref) + "\n%%EOF\n";
  };
  const size_t first = body.size(), second = first + section(0).size();
  EXPECT_EQ(CheckPdf(body + section(second) + section(first) + ending(second)), Whole::kYes);
  EXPECT_EQ(CheckPdf(body + section(first) + ending(first)), Whole::kYes);
}

TEST(PdfCheckBadInput, HostileCrossReferenceStreamsAreNotFollowed) {
  // Four billion entries, and a field wider than eight bytes: not read, never allocated.
  for (const char* fields : {"/W [1 8 8] /Index [0 4000000000]", "/W [9 1 1] /Size 3"}) {
    const std::string pdf = std::string("%PDF-1.5\n1 0 obj\n<< /Type /XRef ") + fields +
                            " /Length 3 >>\nstream\nabc\nendstream\nendobj\nstartxref\n9\n%%EOF\n";
    EXPECT_EQ(CheckPdf(pdf), Whole::kUnchecked) << fields;
  }
}

// ---------------------------------------------------------------------------------------------
// Through the carving.

TEST(PdfCheck, CarvingKeepsTheWholeFileAndNotTheBrokenOne) {
  if (!testing::HaveTool("gm")) GTEST_SKIP() << "GraphicsMagick is not installed";
  const Bytes whole = testing::GraphicsMagickJpegPdf();
  ASSERT_GT(whole.size(), 3u * 4096);
  CarveHarness kept;
  kept.CarveOnly(PdfState{}, "PDF", Concat({whole, Filler(600)}));
  kept.ExpectKept(whole);

  Bytes broken = whole;
  std::fill(broken.begin() + 4096, broken.begin() + 8192, 'x');
  CarveHarness dropped;
  dropped.CarveOnly(PdfState{}, "PDF", Concat({broken, Filler(600)}));
  dropped.ExpectNothingKept();
}

}  // namespace
}  // namespace kestrel
