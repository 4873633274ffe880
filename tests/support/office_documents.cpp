#include "support/office_documents.h"

#include <map>

#include "support/temp_dir.h"

namespace kestrel::testing {
namespace {

constexpr const char* kSlidesHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><office:document "
    "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
    "xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\" "
    "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
    "xmlns:svg=\"urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0\" office:version=\"1.2\" "
    "office:mimetype=\"application/vnd.oasis.opendocument.presentation\">"
    "<office:body><office:presentation>";
constexpr const char* kSlidesTail = "</office:presentation></office:body></office:document>";

// What LibreOffice converts into each kind: lines of text (DOC), a table of numbers and words
// (XLS), slides (PPT); `n` (1 or 2) changes the contents and the size.
std::string SourceFor(const std::string& kind) {
  if (kind == "doc") {
    return "seq $((200 + 200 * n)) | awk -v n=$n '{print \"Line \" $1 \" of Kestrel document \" "
           "n \": sectors, clusters and carved files.\"}' > f$n.txt";
  }
  if (kind == "xls") {
    return "seq $((2000 + 1000 * n)) | awk -v n=$n '{print $1 * n \",kestrel \" $1 \",\" $1 / 7 "
           "* n}' > f$n.csv";
  }
  return SlidesSource("$((20 + 10 * n))");
}

}  // namespace

std::string SlidesSource(const std::string& slides) {
  return std::string("(echo '") + kSlidesHead + "'; seq " + slides +
         " | awk -v n=$n '{print \"<draw:page><draw:frame "
         "svg:width=\\\"20cm\\\" svg:height=\\\"8cm\\\"><draw:text-box><text:p>Slide \" $1 \" of "
         "Kestrel presentation \" n \".</text:p></draw:text-box></draw:frame></draw:page>\"}'; "
         "echo '" +
         kSlidesTail + "') > f$n.fodp";
}

const DocumentPair& LibreOfficeDocuments(const std::string& kind) {
  static std::map<std::string, DocumentPair> made;
  if (auto found = made.find(kind); found != made.end()) return found->second;
  DocumentPair& pair = made[kind];
  TempDir dir;
  const std::string input = kind == "doc" ? "txt" : kind == "xls" ? "csv" : "fodp";
  const std::string make = "cd " + dir.path() + " && export HOME=\"$PWD\" && for n in 1 2; do " +
                           SourceFor(kind) + "; done && soffice --headless --convert-to " + kind +
                           " f1." + input + " f2." + input + " >/dev/null 2>&1";
  if (RunCommand(make) == 0) {
    pair.first = ReadFileBytes(dir / ("f1." + kind));
    pair.second = ReadFileBytes(dir / ("f2." + kind));
  }
  return pair;
}

}  // namespace kestrel::testing
