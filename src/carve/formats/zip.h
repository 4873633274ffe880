#pragma once
// ZIP archives and the Office Open XML documents built on them: sectors are taken up to the end
// of central directory record and its comment. An archive whose local headers carry Office's
// marks is named by the part folder it lists last (word/, xl/, ppt/): DOCX, XLSX or PPTX.

#include <cstdint>

#include "carve/format.h"

namespace kestrel {

enum class ZipKind : uint8_t { kPlain, kDocx, kXlsx, kPptx };

struct ZipState {
  // The archive's local headers carry the marks Office leaves (version 2.0, flags 6, date
  // 1 January 1980).
  bool office_marks = false;
  ZipKind kind = ZipKind::kPlain;
  bool complete = false;
};

Fed FeedZip(ZipState& state, const CarveView& view);
// Kept when its type (ZIP, or the Office type it holds) is selected.
Kept FinishZip(const ZipState& state, uint64_t selected);

}  // namespace kestrel
