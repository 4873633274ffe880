#pragma once
// PDFs written by real programs at test time, for the PDF carving and check tests.

#include <cstdint>
#include <string>
#include <vector>

#include "support/media_files.h"

namespace kestrel::testing {

// A one-page PDF made by ghostscript (empty when ghostscript is missing).
std::vector<uint8_t> GhostscriptPdf(const std::string& text = "Kestrel");

// A PDF of one JPEG picture (about 50 KB) made by GraphicsMagick (empty when gm is missing).
std::vector<uint8_t> GraphicsMagickJpegPdf();

// `pdf` with an incremental update appended, as a PDF editor saves one: a new Info object, a
// cross-reference section for it and a trailer whose /Prev is the original's startxref.
std::vector<uint8_t> WithIncrementalUpdate(const std::vector<uint8_t>& pdf, int number);

// PDFs of several writers and layouts, each of them whole: ghostscript (plain, linearised,
// updated incrementally), LibreOffice (several pages of text), GraphicsMagick (a JPEG picture
// and a Flate-compressed one) and qpdf (object and cross-reference streams, linearised). Made
// once per test program; a writer that is missing adds nothing.
const std::vector<MediaFile>& ToolPdfs();

}  // namespace kestrel::testing
