#pragma once
// Compound documents (OLE2: DOC, XLS, PPT): the length is measured from the header and the last
// FAT sector (found through the DIFAT), read from the source; exactly that many bytes are
// taken. A last FAT sector that is not at its place but whole 4 KiB steps further on (foreign
// units in the document) adds that distance; the document is then put together from its
// pieces (compound_doc_reassembly.h). The name comes from the document's main stream (WordDocument:
// DOC, Workbook or Book: XLS, PowerPoint Document: PPT), or where the directory names none, from
// the program named in its text: Excel (XLS), Word (DOC), otherwise PPT. A finished document whose
// structure shows it broken is not kept (compound_doc_check.h). A document whose last FAT sector
// is neither at its place nor further on, but whose FAT and directory are found in units around
// its header (compound_doc_fragment_walk.h), is put together from its pieces there.

#include <cstdint>

#include "carve/format.h"
#include "carve/signature.h"

namespace kestrel {

enum class DocProgram : uint8_t { kUnknown, kExcel, kWord, kPowerPoint };

struct CompoundState {
  uint64_t left = 0;                              // bytes still to take
  DocProgram program = DocProgram::kUnknown;      // named in the text
  DocProgram main_stream = DocProgram::kUnknown;  // named by the directory
  // The header or the FAT says the document cannot lie whole on the source (or is none).
  bool unmeasurable = false;
  // The carve is not the document: its last FAT sector lies further on than its place (foreign
  // units inside), or neither there nor at its place but around the header (only the header is
  // taken). It is kept only when its pieces are found.
  bool in_pieces = false;
  bool header_only = false;  // of those, the one whose FAT lies around the header
  bool complete = false;
};

// Measures the document whose header is the sector in `view`.
CompoundState StartCompound(const CarveView& view);
Fed FeedCompound(CompoundState& state, const CarveView& view);
Kept FinishCompound(const CompoundState& state, const TypeSet& selected);

template <>
struct FormatOps<CompoundState> : Ops<FeedCompound, FinishCompound> {};

inline constexpr GuardMark kOleGuard{"OLE"};

Match MatchCompound(const RowInput& r, Start* s);
inline constexpr SignatureRow kCompoundRow{.test = MatchCompound,
                                           .gate = {0, "\xD0"},
                                           .guarded_by = {},
                                           .selection = Bits({kPpt, kXls, kDoc}),
                                           .extension = "PPT",
                                           .guards = {&kOleGuard, &kMeasuredPictureGuard},
                                           .stop_check = false};

}  // namespace kestrel
