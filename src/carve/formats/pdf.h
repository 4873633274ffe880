#pragma once
// PDF: the file ends at the last "%%EOF" that belongs to it. After an "%%EOF" the file goes on
// when an incremental update follows (an object or a cross-reference section; or, in a
// linearised file, the filler after the first part), and a later "%%EOF" belongs to the file
// when its cross-reference chain (startxref, /Prev) reaches one of the file's earlier ones. An
// "%%EOF" of something else, a header of another file or the scan's end cut the file after the
// last "%%EOF" that belongs to it.

#include <cstdint>
#include <vector>

#include "carve/format.h"
#include "carve/formats/zip.h"
#include "carve/signature.h"

namespace kestrel {

struct PdfState {
  uint64_t file_start = 0;  // source offset of the file's first byte
  // Length through the last "%%EOF" (and its line end) that belongs to the file; 0: none yet.
  uint64_t end = 0;
  // The cross-reference offsets the file's revisions name (startxref) and reach (/Prev).
  std::vector<uint64_t> startxrefs;
  std::vector<uint64_t> prevs;
  // Where the cross-reference tables after the first "%%EOF" start (file offsets).
  std::vector<uint64_t> tables;
  bool passed_filler_eof = false;  // the linearised first part's "%%EOF" was passed over
  bool next_eof_belongs = false;   // the "%%EOF" after that part ends the same file
  // An update (or a linearised file's rest) began after the last "%%EOF" and has not ended.
  bool update_open = false;
};

PdfState StartPdf(const CarveView& view);
Fed FeedPdf(PdfState& state, const CarveView& view);
// Kept cut after its last "%%EOF" when its structure shows it whole (pdf_check); a file that
// never showed one, or whose update after it never ended, is kept only with the rest of it found
// elsewhere: an earlier revision is not the whole file.
Kept FinishPdf(const PdfState& state);

template <>
struct FormatOps<PdfState> : Ops<FeedPdf, FinishPdf> {};

inline constexpr GuardMark kPdfGuard{"PDF"};

Match MatchPdf(const RowInput& r, Start* s);
inline constexpr SignatureRow kPdfRow{.test = MatchPdf,
                                      .gate = {0, "%"},
                                      .guarded_by = {&kZipGuard, &kPdfGuard},
                                      .selection = Bits({kPdf}),
                                      .extension = "PDF",
                                      .guards = {&kPdfGuard},
                                      .on_guard = OnGuard::kSkipToRtf};

}  // namespace kestrel
