#pragma once
// JPEG: the file is walked from its SOI through its marker segments (by their lengths, so that an
// Exif thumbnail inside APP1 is skipped whole) and the entropy-coded data of every scan (FF 00
// stuffing and RST0-7 inside) to the EOI that ends the frame. A byte sequence that is not a
// valid marker structure is refused; a walk that never reaches its EOI is dropped, and so is a
// picture whose entropy-coded data does not decode whole (jpeg_entropy.h). A JPEG whose
// APP2 "MPF" index names further images (multi-picture files: stereo pairs, camera previews) goes
// on after its EOI to the end of the last of them.

#include <cstdint>

#include "carve/format.h"
#include "carve/formats/compound_doc.h"
#include "carve/formats/counted.h"
#include "carve/formats/mov.h"
#include "carve/formats/mp3.h"
#include "carve/formats/mpeg_ps.h"
#include "carve/formats/riff.h"
#include "carve/formats/tiff.h"
#include "carve/formats/zip.h"
#include "carve/signature.h"

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
  bool broken = false;
  // The headers broke past the first sector, before any scan: the picture may have been cut
  // inside a large segment (an Exif block with its thumbnail) and go on in another fragment.
  bool headers_cut = false;
  bool decoded = false;  // its entropy-coded data decodes to the EOI    // its entropy-coded data
                         // does not decode to the EOI
  // End of the furthest image that a multi-picture index names; 0: none.
  uint64_t mpf_end = 0;
  uint64_t mpf_last_start = 0;  // where that image starts
  // After the EOI the images of the index are taken, up to mpf_end; eoi_end is where the first
  // image ends, where the file is cut when they do not all arrive.
  bool in_mpf_images = false;
  uint64_t eoi_end = 0;
};

JpegState StartJpeg();
// Takes every sector whole until the EOI; then the file ends right after it.
Fed FeedJpeg(JpegState& state, const CarveView& view);
// A picture cut short or broken by foreign bytes is not kept, unless its reassembly finds its
// other fragments (jpeg_reassembly.h).
Kept FinishJpeg(const JpegState& state);
// Whole when the picture decodes to its last MCU and EOI (jpeg_entropy.h).
Whole CheckJpegWhole(ByteSource& source, uint64_t start, uint64_t length);

template <>
struct FormatOps<JpegState> : Ops<FeedJpeg, FinishJpeg> {};

inline constexpr GuardMark kJpegGuard{"JPEG"};

// A JFIF header (FF D8 with "JFIF" at 6).
Match MatchJfif(const RowInput& r, Start* s);
// FF D8 followed by a quantisation table (DQT) marker.
Match MatchJpegQuant(const RowInput& r, Start* s);
// FF D8 FF: a start of image followed by a marker.
Match MatchJpeg(const RowInput& r, Start* s);

inline constexpr SignatureRow kJfifRow{
    .test = MatchJfif,
    .gate = {0, "\xFF"},
    .guarded_by = {&kZipGuard, &kRawGuard, &kJpegGuard, &kSealedGuard},
    .selection = Bits({kJpg}),
    .extension = "JPG",
    .guards = {&kMeasuredPictureGuard, &kJpegGuard}};
// Video and RAW files hold JPEG frames at sector starts: inside them a quantisation-table start
// starts nothing.
inline constexpr SignatureRow kJpegQuantRow{
    .test = MatchJpegQuant,
    .gate = {0, "\xFF"},
    .guarded_by = {&kZipGuard, &kMeasuredPictureGuard, &kJpegGuard, &kRawGuard, &kAviGuard,
                   &kMovGuard, &kWmvGuard, &kSealedGuard},
    .selection = Bits({kJpg}),
    .extension = "JPG",
    .guards = {&kJpegGuard}};
inline constexpr SignatureRow kJpegRow{
    .test = MatchJpeg,
    .gate = {0, "\xFF"},
    .guarded_by = {&kZipGuard, &kOleGuard, &kMp3Guard, &kMpgGuard, &kJpegGuard, &kRawGuard,
                   &kAviGuard, &kMovGuard, &kWmvGuard, &kSealedGuard},
    .selection = Bits({kJpg}),
    .extension = "JPG",
    .guards = {&kJpegGuard}};

}  // namespace kestrel
