#include "support/pdf_files.h"

#include <cstdio>

#include "support/byte_strings.h"
#include "support/temp_dir.h"

namespace kestrel::testing {
namespace {

const char* const kPostScript =
    "printf '%%!PS\\n/Helvetica findfont 12 scalefont setfont 72 720 moveto (";
const char* const kGhostscript = "gs -q -dBATCH -dNOPAUSE -sDEVICE=pdfwrite ";

// Several pages of words, as a text file in the folder where the command runs.
const char* const kLongText =
    "for p in $(seq 1 40); do for w in $(seq 1 60); do printf 'kestrel sector cluster %s ' $p$w; "
    "done; printf '\\n\\n'; done > long.txt && ";

void Add(std::vector<MediaFile>& files, const std::string& name, const std::string& command) {
  auto bytes = MakeWithTool(command);
  if (!bytes.empty()) files.push_back({name, std::move(bytes)});
}

std::vector<MediaFile> MakePdfs() {
  std::vector<MediaFile> files;
  if (HaveTool("gs")) {
    files.push_back({"ghostscript", GhostscriptPdf()});
    files.push_back({"ghostscript, updated twice",
                     WithIncrementalUpdate(WithIncrementalUpdate(GhostscriptPdf("text"), 40), 41)});
    Add(files, "ghostscript, linearised",
        std::string(kPostScript) + "Kestrel) show showpage\\n' > a.ps && " + kGhostscript +
            "-dFastWebView -sOutputFile=out a.ps");
  }
  const std::string soffice =
      std::string(kLongText) +
      "HOME=\"$PWD\" soffice --headless --convert-to pdf long.txt >/dev/null 2>&1 && ";
  if (HaveTool("soffice")) Add(files, "LibreOffice", soffice + "mv long.pdf out");
  if (!files.empty() && files.back().name == "LibreOffice" && HaveTool("qpdf")) {
    TempDir dir;
    const std::string input = dir / "in.pdf";
    WriteFileBytes(input, files.back().bytes);
    Add(files, "qpdf, object streams", "qpdf --object-streams=generate '" + input + "' out");
    Add(files, "qpdf, linearised with object streams",
        "qpdf --linearize --object-streams=generate '" + input + "' out");
  }
  if (HaveTool("gm")) {
    files.push_back({"GraphicsMagick, JPEG", GraphicsMagickJpegPdf()});
    Add(files, "GraphicsMagick, Flate",
        "gm convert -size 160x120 plasma:fractal -compress zip pdf:out");
  }
  return files;
}

}  // namespace

std::vector<uint8_t> GhostscriptPdf(const std::string& text) {
  return MakeWithTool(std::string(kPostScript) + text + ") show showpage\\n' > a.ps && " +
                      kGhostscript + "-sOutputFile=out a.ps");
}

std::vector<uint8_t> GraphicsMagickJpegPdf() {
  return MakeWithTool("gm convert -size 640x480 plasma:fractal a.jpg && gm convert a.jpg pdf:out");
}

std::vector<uint8_t> WithIncrementalUpdate(const std::vector<uint8_t>& pdf, int number) {
  const std::string text(pdf.begin(), pdf.end());
  const size_t at = text.rfind("startxref");
  const std::string prev = std::to_string(std::stoull(text.substr(at + 9)));
  const std::string object = std::to_string(number) + " 0 obj\n<< /Title (Update " +
                             std::to_string(number) + ") >>\nendobj\n";
  const size_t object_offset = pdf.size();
  const size_t xref_offset = object_offset + object.size();
  char entry[32];
  std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", object_offset);
  const std::string update = object + "xref\n" + std::to_string(number) + " 1\n" + entry +
                             "trailer\n<< /Size " + std::to_string(number + 1) + " /Prev " + prev +
                             " /Info " + std::to_string(number) + " 0 R >>\nstartxref\n" +
                             std::to_string(xref_offset) + "\n%%EOF\n";
  return Concat({pdf, Bytes(update)});
}

const std::vector<MediaFile>& ToolPdfs() {
  static const std::vector<MediaFile> files = MakePdfs();
  return files;
}

}  // namespace kestrel::testing
