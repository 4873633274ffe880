#include "carve/formats/pdf.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <optional>
#include <string_view>

#include "carve/formats/pdf_check.h"
#include "carve/formats/pdf_reassembly.h"
#include "carve/formats/pdf_syntax.h"
#include "platform/sector_size.h"

namespace kestrel {
namespace {

constexpr std::string_view kEof = "%%EOF";
// How far before an "%%EOF" its "startxref" and trailer are looked for.
constexpr size_t kTrailerReach = 2048;
// Bytes of a cross-reference stream's dictionary read to find its /Prev.
constexpr size_t kXrefStreamHead = 1024;
// Revisions remembered per file; a chain longer than this is not followed further.
constexpr size_t kMaxRevisions = 256;

bool IsPdfSpace(uint8_t c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == 0;
}

// Bytes of the line end that starts at `p`: CR LF, CR, LF, or none.
uint32_t LineEndBytes(const uint8_t* p) {
  if (p[0] == '\r' && p[1] == '\n') return 2;
  return (p[0] == '\r' || p[0] == '\n') ? 1 : 0;
}

// The decimal number at the start of `text`, when there is one.
std::optional<uint64_t> NumberAt(std::string_view text) {
  uint64_t value = 0;
  size_t digits = 0;
  while (digits < text.size() && digits < 19 && std::isdigit(static_cast<uint8_t>(text[digits]))) {
    value = value * 10 + static_cast<uint64_t>(text[digits] - '0');
    ++digits;
  }
  if (digits == 0) return std::nullopt;
  return value;
}

std::string_view SkipSpaces(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsPdfSpace(static_cast<uint8_t>(text[i]))) ++i;
  return text.substr(i);
}

// The value after the last `key` in `text`.
std::optional<uint64_t> ValueAfterLast(std::string_view text, std::string_view key) {
  const size_t at = text.rfind(key);
  if (at == std::string_view::npos) return std::nullopt;
  return NumberAt(SkipSpaces(text.substr(at + key.size())));
}

// Whether an incremental update (or the rest of a linearised file) starts after the "%%EOF"
// line that ends at `after`.
bool UpdateFollows(const SectorInput& in, size_t after) {
  constexpr size_t kLook = 64;
  if (!in.HasBytes(after, kLook)) return false;
  return PdfUpdateStartsAt(std::string_view(reinterpret_cast<const char*>(in.data + after), kLook));
}

struct Revision {
  std::optional<uint64_t> startxref;
  std::optional<uint64_t> prev;
};

// The startxref and /Prev of the revision whose "%%EOF" is at offset `at` of the sector.
Revision RevisionBefore(const PdfState& state, const CarveView& view, size_t at) {
  const SectorInput& in = view.in;
  const size_t reach = std::min(kTrailerReach, at + in.valid_before);
  const std::string_view before(reinterpret_cast<const char*>(in.data + at - reach), reach);
  Revision revision;
  revision.startxref = ValueAfterLast(before, "startxref");
  if (!revision.startxref) return revision;
  const size_t trailer = before.rfind("trailer");
  if (trailer != std::string_view::npos) {
    revision.prev =
        ValueAfterLast(before.substr(trailer, before.rfind("startxref") - trailer), "/Prev");
    return revision;
  }
  // A cross-reference stream: its dictionary carries /Prev.
  char head[kXrefStreamHead];
  const uint64_t offset = state.file_start + *revision.startxref;
  const size_t n = static_cast<size_t>(std::min<uint64_t>(
      sizeof head, view.source.Size() > offset ? view.source.Size() - offset : 0));
  if (n == 0 || !view.source.ReadExact(offset, head, n)) return revision;
  std::string_view dictionary(head, n);
  dictionary = dictionary.substr(0, dictionary.find("stream"));
  revision.prev = ValueAfterLast(dictionary, "/Prev");
  return revision;
}

bool Contains(const std::vector<uint64_t>& values, std::optional<uint64_t> value) {
  return value && std::find(values.begin(), values.end(), *value) != values.end();
}

// Whether a later revision belongs to the file: its chain reaches one of the file's earlier
// cross-reference sections, or an earlier one reaches it.
bool Belongs(const PdfState& state, const Revision& revision) {
  return Contains(state.startxrefs, revision.prev) || Contains(state.prevs, revision.startxref) ||
         Contains(state.startxrefs, revision.startxref) ||
         Contains(state.tables, revision.startxref);
}

// Remembers where a cross-reference table starts in an update ("xref" at a line's start, file
// offset): a later "%%EOF" whose startxref names it belongs to the file even when its trailer,
// whose /Prev would tell, lies in an earlier fragment than the "%%EOF".
void NoteTable(PdfState& state, const CarveView& view, uint32_t i) {
  const SectorInput& in = view.in;
  if (state.end == 0 || state.tables.size() >= kMaxRevisions || !in.HasBytes(i, 4)) return;
  if (i == 0 && in.valid_before == 0) return;
  const uint8_t before = *(in.data + i - 1);
  if ((before != '\n' && before != '\r') || std::memcmp(in.data + i, "xref", 4) != 0) return;
  state.tables.push_back(view.written + i);
}

void Remember(PdfState& state, const Revision& revision) {
  if (state.startxrefs.size() >= kMaxRevisions) return;
  if (revision.startxref) state.startxrefs.push_back(*revision.startxref);
  if (revision.prev) state.prevs.push_back(*revision.prev);
}

Fed Released(Fed fed) {
  fed.release_guard = true;
  return fed;
}

}  // namespace

PdfState StartPdf(const CarveView& view) {
  PdfState state;
  state.file_start = view.in.sector * kSectorBytes;
  return state;
}

Fed FeedPdf(PdfState& state, const CarveView& view) {
  const SectorInput& in = view.in;
  for (uint32_t i = 0; i < in.count; ++i) {
    const uint8_t* p = in.data + i;
    if (*p == 'x') NoteTable(state, view, i);
    if (*p != '%' || std::memcmp(p, kEof.data(), kEof.size()) != 0) continue;
    const Revision revision = RevisionBefore(state, view, i);
    const bool belongs = state.end == 0 || state.next_eof_belongs || Belongs(state, revision);
    state.next_eof_belongs = false;
    if (!belongs) {
      // Another file's end: this one ended with its last own "%%EOF", and what followed it was
      // no update of its own.
      state.update_open = false;
      return Complete(i);
    }
    Remember(state, revision);
    const size_t after = i + kEof.size() + LineEndBytes(p + kEof.size());
    state.end = view.written + after;
    // A linearised file's first part: "%%EOF" and filler spaces on the next line.
    const bool filler = !state.passed_filler_eof && p[7] == ' ' && p[8] == ' ';
    if (filler) state.passed_filler_eof = state.next_eof_belongs = true;
    if (!filler && !UpdateFollows(in, after)) {
      state.update_open = false;
      return Complete(after);
    }
    state.update_open = true;
  }
  // Past an end that belongs to the file, a header of a new file may start one.
  const Fed fed = More(in.count);
  return state.end != 0 ? Released(fed) : fed;
}

Kept FinishPdf(const PdfState& state) {
  if (state.end == 0 || state.update_open) {
    // Its end never came: the rest of it may lie elsewhere (fragments out of order). A file cut
    // inside an update holds an earlier revision, which is no whole file.
    Kept kept = Drop();
    kept.check = CheckPdf;
    kept.reassemble = ReassemblePdf;
    kept.pieces_elsewhere = true;
    kept.not_whole = state.update_open;
    return kept;
  }
  Kept kept = KeepChecked(CheckPdf);
  kept.cut = state.end;
  kept.reassemble = ReassemblePdf;
  return kept;
}

Match MatchPdf(const RowInput& r, Start* s) {
  return r.h.StartsWith(0, "%PDF") ? Opens(s, StartPdf(r.view)) : Match::kNo;
}

}  // namespace kestrel
