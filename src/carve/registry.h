#pragma once
// The signature rows in the order they are tried, one line per row, each exported by its format
// module. A row goes where its signature cannot be taken by an earlier, looser one; a row that
// goes on at the RTF row (OnGuard::kSkipToRtf) comes before it. The tests of the samples name
// rows by their position.

#include <array>

#include "carve/formats/bitmap.h"
#include "carve/formats/camera_raw.h"
#include "carve/formats/compound_doc.h"
#include "carve/formats/counted.h"
#include "carve/formats/crw.h"
#include "carve/formats/end_marker.h"
#include "carve/formats/iso_media.h"
#include "carve/formats/jpeg.h"
#include "carve/formats/midi.h"
#include "carve/formats/mov.h"
#include "carve/formats/mp3.h"
#include "carve/formats/mpeg_ps.h"
#include "carve/formats/pdf.h"
#include "carve/formats/pictures.h"
#include "carve/formats/riff.h"
#include "carve/formats/rtf.h"
#include "carve/formats/tiff.h"
#include "carve/formats/wmf.h"
#include "carve/formats/x3f.h"
#include "carve/formats/zip.h"
#include "carve/signature.h"

namespace kestrel {

inline constexpr auto kSignatureRows = std::to_array<SignatureRow>({
    kAiffRow,         kBmpRow,       kAviRow,  kWavRow,  kCursorRow,   kIconRow,
    kKodakRow,        kKodakSkipRow, kTiffRow, kMidiRow, kSndRow,      kZipRow,
    kFileTypeRow,     kMovRow,       kGifRow,  kJfifRow, kMpegRow,     kPdfRow,
    kPlaceableWmfRow, kPlainWmfRow,  kWmvRow,  kAsxRow,  kPngRow,      kOleFragmentRow,
    kRtfRow,          kRafRow,       kCrwRow,  kMrwRow,  kMsvRow,      kMsfRow,
    kJpegQuantRow,    kPstRow,       kJpegRow, kX3fRow,  kCompoundRow, kMp3Row,
    kMp3FramesRow,
});

}  // namespace kestrel
