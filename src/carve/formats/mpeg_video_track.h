#pragma once
// The start codes of an MPEG-1 or MPEG-2 video stream, fed packet by packet (a code may be split
// between two packets): it tells whether bytes of the stream are missing or foreign at a seam
// without decoding a picture. The stream's first code is its sequence header.
// - Slices start on the rows of macroblocks in order. MPEG-2 starts one on every row of every
//   picture; an MPEG-1 writer whose first picture does so (as ffmpeg does) does it in every
//   picture. A slice that skips rows or goes back, or a picture that ends short of the last row,
//   breaks the stream.
// - A packet's decoding time stamp (or its presentation time stamp, when it has none) is that of
//   the first picture whose start code begins in it, and the stamps move on by the pictures'
//   durations (by the sequence header's frame rate: half a frame period for a field picture, a
//   period and a half for a frame that repeats a field), so pictures missing between two stamps
//   show.

#include <cstddef>
#include <cstdint>

namespace kestrel {

class MpegVideoTrack {
 public:
  static constexpr uint64_t kNoStamp = ~uint64_t{0};

  // A packet's payload is fed next, stamped `stamp` (kNoStamp: none).
  void NewPacket(uint64_t stamp) {
    stamp_ = stamp;
    payload_fed_ = 0;
  }
  // Whether the `n` bytes at `p`, the packet's payload or its next piece, go on with the stream
  // fed so far.
  bool Feed(const uint8_t* p, size_t n);
  // Whether the stream may end after the bytes fed: the picture fed last reached the last row,
  // when every picture does. A stream cut between two packs mostly ends inside a picture.
  bool MayEndHere() const {
    return !in_picture_ || last_row_ == 0 || !learned_ || !every_row_ || last_row_ == rows_;
  }

 private:
  bool CodeFits(uint8_t code);
  bool SliceFits(uint32_t row);
  bool PictureEnds();
  bool StampFits(uint64_t stamp);

  // Start code bytes.
  uint32_t zeros_ = 0;     // zero bytes just fed
  bool prefixed_ = false;  // 00 00 01 just fed: the next byte is a code
  // The sequence header's frame rate code, in its fourth byte after the code.
  uint32_t header_left_ = 0;
  uint32_t rate_code_ = 0;
  bool opened_ = false;  // the sequence header that opens the stream was fed
  // Rows.
  bool in_picture_ = false;  // a picture's slices are being fed
  uint32_t last_row_ = 0;    // of the picture's last slice (0: none yet)
  bool learned_ = false;     // the first picture ended: `rows_` holds
  bool skipped_ = false;     // in the first picture, a slice skipped rows
  bool every_row_ = false;   // each picture has slices on every row, 1 to `rows_`
  uint32_t rows_ = 0;
  // Time.
  uint64_t stamp_ = kNoStamp;  // the packet's, until the first picture that starts in it takes it
  uint64_t payload_fed_ = 0;   // bytes of the packet's payload fed
  uint64_t pictures_ = 0;      // picture start codes fed
  uint64_t last_stamp_ = kNoStamp;
  uint64_t last_stamped_picture_ = 0;
};

}  // namespace kestrel
