#pragma once
// TIFF files and the camera RAW formats built on TIFF (NEF, DCR, KDC, SRF, PEF, ORF). They carry
// no end marker: at its first sector the file is measured from its IFDs (reading the directories
// it needs from the source) up to the furthest byte they reference, exactly that many bytes are
// taken, and the file is kept under the camera maker's extension, or dropped.

#include <cstdint>

#include "carve/format.h"
#include "carve/formats/tiff_state.h"

namespace kestrel {

struct TiffStart {
  bool orf_name = false;
  bool always_keep = false;
  bool kodak_dc = false;
};

// The start values of the file whose header is the sector in `view`.
TiffState StartTiff(const CarveView& view, const TiffStart& start);
// Refuses a file that cannot be measured: a maker whose type is not selected, an IFD or a strip
// outside the source, an estimate reaching past the source's end.
Fed FeedTiff(TiffState& state, const CarveView& view);
// A measured file is kept under its maker's extension, or when it is named ORF or TIF is
// selected. A file ended early by a header is kept only when its header says so (always_keep).
Kept FinishTiff(const TiffState& state, uint64_t selected);

}  // namespace kestrel
