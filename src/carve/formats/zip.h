#pragma once
// ZIP archives and the Office Open XML documents built on them: sectors are taken up to the end
// of central directory record (with its comment) whose central directory lies right before it
// in this archive, so the end record of a ZIP stored inside the archive does not end it. An
// archive whose central directory lists "[Content_Types].xml" and parts below word/, xl/ or ppt/
// is a DOCX, XLSX or PPTX, whichever program wrote it. A finished archive whose structure
// shows it broken is not kept (zip_check.h).

#include <cstdint>

#include "carve/format.h"
#include "carve/signature.h"

namespace kestrel {

enum class ZipKind : uint8_t { kPlain, kDocx, kXlsx, kPptx };

struct ZipNames {
  bool content_types = false;             // "[Content_Types].xml" is among them
  ZipKind part_folder = ZipKind::kPlain;  // the Office part folder named first
};

struct ZipState : ZipNames {
  ZipNames local_names;  // what the local headers name (the fields above: the directory)
  bool complete = false;
};

Fed FeedZip(ZipState& state, const CarveView& view);
// Kept when its type (ZIP, or the Office type it holds) is selected.
Kept FinishZip(const ZipState& state, const TypeSet& selected);

template <>
struct FormatOps<ZipState> : Ops<FeedZip, FinishZip> {};

// Inside an open ZIP no header starts a file: most rows are guarded by it.
inline constexpr GuardMark kZipGuard{"ZIP"};

Match MatchZip(const RowInput& r, Start* s);
inline constexpr SignatureRow kZipRow{.test = MatchZip,
                                      .gate = {0, "P"},
                                      .guarded_by = {&kZipGuard},
                                      .selection = Bits({kZip, kDoc, kXls, kPpt}),
                                      .extension = "ZIP",
                                      .guards = {&kZipGuard}};

}  // namespace kestrel
