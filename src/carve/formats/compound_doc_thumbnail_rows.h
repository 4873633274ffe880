#pragma once
// The slide thumbnail a presentation (PPT) keeps in its "\x05SummaryInformation" stream: the
// thumbnail property (clipboard data, a DIB) holds raw pixel rows of known width, height and
// depth. A slide render is mostly flat areas and text, so each row goes on from the one above it;
// a foreign unit in the middle of the pixels (random bytes, text, another file) breaks the rows.
// The fragment walk (compound_doc_fragment_walk.h) judges which of two units goes on with the
// rows across a seam by how far each byte lies from the byte one row above.
//
// Only uncompressed 24- and 32-bit bitmaps are read: other depths index a palette, where
// neighbouring values say nothing. Bounded: at most 64 properties read, rows of at most 64 KiB.

#include <cstdint>
#include <optional>

#include "carve/formats/compound_doc_biff_cursor.h"

namespace kestrel {

// The pixel rows, as offsets in the stream: [from, to), `stride` bytes a row.
struct ThumbnailRows {
  uint64_t from = 0, to = 0, stride = 0;
};

// The thumbnail's pixel rows in a SummaryInformation stream of `size` bytes; empty when the
// stream holds no such bitmap or its bytes are not known.
std::optional<ThumbnailRows> FindThumbnailRows(uint64_t size, const StreamBytes& read);

// Bytes compared with the byte one row above across a seam, and the sum of their differences.
struct RowSeam {
  uint64_t pairs = 0, difference = 0;
  void Add(uint8_t byte, uint8_t above) {
    ++pairs;
    difference += byte > above ? byte - above : above - byte;
  }
};

// Whether `broken` (a unit's seam) breaks the rows clearly where `going_on` (another unit's seam
// at the same place) goes on with them: its mean difference is more than twice the other's and
// larger by a margin. False when either compared too few bytes.
bool BreaksRowsAgainst(const RowSeam& broken, const RowSeam& going_on);

}  // namespace kestrel
