#pragma once
// The state of the open carved file: one alternative per format module, and the calls that
// hand a sector to the open file's format and finish it.

#include <cstdint>
#include <variant>

#include "carve/format.h"
#include "carve/formats/compound_doc.h"
#include "carve/formats/counted.h"
#include "carve/formats/crw.h"
#include "carve/formats/end_marker.h"
#include "carve/formats/jpeg.h"
#include "carve/formats/midi.h"
#include "carve/formats/mov.h"
#include "carve/formats/mp3.h"
#include "carve/formats/mpeg_ps.h"
#include "carve/formats/pdf.h"
#include "carve/formats/pictures.h"
#include "carve/formats/rtf.h"
#include "carve/formats/tiff.h"
#include "carve/formats/x3f.h"
#include "carve/formats/zip.h"

namespace kestrel {

using FormatState = std::variant<CountedState, EndMarkerState, JpegState, GifState, RtfState,
                                 MidiState, CrwState, X3fState, ZipState, MovState, CompoundState,
                                 TiffState, PdfState, MpegState, Mp3State>;

Fed FeedFormat(FormatState& state, const CarveView& view);
Kept FinishFormat(const FormatState& state, uint64_t selected);

}  // namespace kestrel
