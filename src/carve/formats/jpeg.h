#pragma once
// JPEG: the file is walked from its SOI through its marker segments (by their lengths, so that an
// Exif thumbnail inside APP1 is skipped whole) and the entropy-coded data of every scan (FF 00
// stuffing and RST0-7 inside) to the EOI that ends the frame. A byte sequence that is not a
// valid marker structure is refused; a walk that never reaches its EOI is dropped.

#include <cstdint>

#include "carve/format.h"

namespace kestrel {

// A safety bound only: a JPEG whose walk runs this long without its EOI is refused. Camera
// pictures are 10-40 MB; no real picture comes near 256 MiB.
inline constexpr uint64_t kJpegSizeCap = uint64_t{256} << 20;

struct JpegState {
  uint64_t next = 2;      // file offset where the walk goes on (past the SOI)
  bool in_scan = false;   // inside a scan's entropy-coded data
  bool frame = false;     // a frame header (SOFn) was seen
  bool lossless = false;  // the frame is lossless: it needs no quantisation table
  bool quant = false;     // a quantisation table (DQT)
  bool coding = false;    // a Huffman (DHT) or arithmetic-coding (DAC) table
  bool scanned = false;   // a scan (SOS) was seen
  bool complete = false;  // the EOI was reached
};

JpegState StartJpeg();
// Takes every sector whole until the EOI; then the file ends right after it.
Fed FeedJpeg(JpegState& state, const CarveView& view);
Kept FinishJpeg(const JpegState& state);

}  // namespace kestrel
