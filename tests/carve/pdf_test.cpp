// PDF carving: a file ends after the last "%%EOF" that belongs to it (its line end included):
// incremental updates and linearised files are followed to their real end, the remains of
// another PDF after it do not lengthen it, and a file without an "%%EOF" is not kept.

#include "carve/formats/pdf.h"

#include "support/carve_harness.h"
#include "support/pdf_files.h"

namespace kestrel {
namespace {

using testing::GhostscriptPdf;
using testing::WithIncrementalUpdate;

std::vector<uint8_t> Sample(const std::string& name) {
  const std::string samples = testing::SamplesDir();
  return samples.empty() ? std::vector<uint8_t>{}
                         : testing::ReadFileBytes(samples + "/exiftool-t-images/" + name);
}

TEST(Pdf, GhostscriptPdfsEndAfterTheirOwnLastEof) {
  if (!testing::HaveTool("gs")) GTEST_SKIP() << "ghostscript is not installed";
  const auto plain = GhostscriptPdf();
  ASSERT_FALSE(plain.empty());
  const auto updated = WithIncrementalUpdate(WithIncrementalUpdate(plain, 40), 41);
  const auto first = WithIncrementalUpdate(GhostscriptPdf("first"), 40);
  // Old data right after it: the objects and the end of another, unrelated PDF.
  const auto other = WithIncrementalUpdate(GhostscriptPdf("second one"), 50);
  const std::string other_text(other.begin(), other.end());
  const size_t tail = other_text.find("50 0 obj");
  ASSERT_NE(tail, std::string::npos);
  const struct {
    const char* what;
    Bytes pdf, after;
  } kCases[] = {
      {"its EOF and line end", plain, Filler(1500)},
      {"incremental updates followed to the last EOF", updated, Filler(900)},
      {"another PDF's remains after it", first,
       Concat({{other.begin() + static_cast<ptrdiff_t>(tail), other.end()}, Filler(700)})},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    CarveHarness h;
    h.CarveOnly(PdfState{}, "PDF", Concat({c.pdf, c.after}));
    h.ExpectKept(c.pdf);
  }
}

TEST(Pdf, SamplesWithCrAndLfLineEndsAreWrittenWhole) {
  for (const char* name : {"PDF.pdf", "PDF2.pdf"}) {
    SCOPED_TRACE(name);
    const auto pdf = Sample(name);
    if (pdf.empty()) GTEST_SKIP() << "sample " << name << " is missing";
    CarveHarness h;
    h.CarveOnly(PdfState{}, "PDF", Concat({pdf, Filler(600)}));
    h.ExpectKept(pdf);
  }
}

// A linearised PDF: the first part's "%%EOF" is followed by a line end and filler spaces (here
// read from the next sector), the file ends at the second "%%EOF".
std::vector<uint8_t> LinearisedPdf() {
  auto head = testing::Bytes("%PDF-1.4\n1 0 obj <</Linearized 1>> endobj\ntrailer <<>>\n");
  head = Concat({head, Filler(505 - head.size()), testing::Bytes("%%EOF\r\n  ")});
  return Concat({head, testing::Bytes("\n2 0 obj <<>> endobj\n"), Filler(300),
                 testing::Bytes("startxref\n0\n%%EOF\r\n")});
}

TEST(Pdf, CraftedFilesEndAtTheirRealEof) {
  const auto absurd =
      testing::Bytes("%PDF-1.4\n1 0 obj <<>> endobj\nstartxref\n99999999999999999999\n%%EOF\n");
  const auto absurd_later = testing::Bytes(
      "7 0 obj <<>> endobj\ntrailer << /Prev 18446744073709551615 >>\nstartxref\n"
      "18446744073709551615\n%%EOF\n");
  const struct {
    const char* what;
    Bytes pdf, after;
  } kCases[] = {
      {"linearised: on to the second EOF", LinearisedPdf(), Filler(900)},
      {"absurd startxref and Prev values: the first EOF", absurd,
       Concat({absurd_later, Filler(600)})},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    CarveHarness h;
    h.CarveOnly(PdfState{}, "PDF", Concat({c.pdf, c.after}));
    h.ExpectKept(c.pdf);
  }
}

// A file whose last part (a linearised file's rest, an incremental update) began after an
// "%%EOF" but ends nowhere in reach is not kept as the part before: that is no whole file.
TEST(Pdf, FileCutInsideItsLastPartIsNotKeptAsTheFirstPart) {
  const auto linearised = LinearisedPdf();
  const auto plain = GhostscriptPdf();
  const auto updated = plain.empty() ? plain : WithIncrementalUpdate(plain, 40);
  const struct {
    const char* what;
    Bytes pdf;
    size_t cut;
  } kCases[] = {
      {"linearised", linearised, 700},
      {"updated", updated, plain.size() + 80},
  };
  for (const auto& c : kCases) {
    if (c.pdf.empty()) continue;  // ghostscript is not installed
    SCOPED_TRACE(c.what);
    ASSERT_LT(c.cut, c.pdf.size());
    // The scan ends, or another file's header comes, before the last "%%EOF".
    const Bytes cut(c.pdf.begin(), c.pdf.begin() + static_cast<ptrdiff_t>(c.cut));
    CarveHarness h;
    h.CarveOnly(PdfState{}, "PDF", Concat({cut, Filler(1024 - c.cut % 512)}));
    EXPECT_TRUE(h.ui.rows.empty());

    h.CarveOnly(PdfState{}, "PDF", Concat({c.pdf, Filler(900)}));
    ASSERT_EQ(h.ui.rows.size(), 1u);
    EXPECT_EQ(h.FileBytes(h.ui.rows[0].name), c.pdf);
  }
}

TEST(PdfBadInput, FileWithoutEofIsNotKept) {
  CarveHarness h;
  h.CarveOnly(PdfState{}, "PDF",
              Concat({testing::Bytes("%PDF-1.4\n1 0 obj <<>> endobj\n"), Filler(5000)}));
  h.ExpectNothingKept();
}

}  // namespace
}  // namespace kestrel
