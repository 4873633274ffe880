#include "carve/formats/mpeg_video_track.h"

namespace kestrel {
namespace {

constexpr uint8_t kPicture = 0x00;
constexpr uint8_t kLastSlice = 0xAF;
constexpr uint8_t kUserData = 0xB2;
constexpr uint8_t kSequenceHeader = 0xB3;
constexpr uint8_t kExtension = 0xB5;
constexpr uint8_t kSequenceEnd = 0xB7;
constexpr uint8_t kGroup = 0xB8;
constexpr uint32_t kRateCodeByte = 4;  // after the sequence header's code
constexpr uint64_t kStampMask = (uint64_t{1} << 33) - 1;
// Quarter ticks of the 90 kHz clock: rounding puts a stamp within 2 ticks of its picture's time.
constexpr uint64_t kStampSlack = 8;

// A frame period in quarter ticks of the 90 kHz clock, by frame rate code (0: none).
uint64_t FramePeriod(uint32_t rate_code) {
  static constexpr uint64_t kPeriods[] = {0, 15015, 15000, 14400, 12012, 12000, 7200, 6006, 6000};
  return rate_code < sizeof kPeriods / sizeof kPeriods[0] ? kPeriods[rate_code] : 0;
}

}  // namespace

bool MpegVideoTrack::Feed(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i, ++payload_fed_) {
    const uint8_t b = p[i];
    if (header_left_ > 0 && --header_left_ == 0) rate_code_ = b & 0x0F;
    if (prefixed_) {
      prefixed_ = false;
      if (!CodeFits(b)) return false;
    }
    if (b == 0) {
      ++zeros_;
      continue;
    }
    prefixed_ = b == 1 && zeros_ >= 2;
    zeros_ = 0;
  }
  return true;
}

bool MpegVideoTrack::CodeFits(uint8_t code) {
  // A stream opens with its sequence header: one that opens with other codes is another's tail.
  if (!opened_ && code != kSequenceHeader) return false;
  opened_ = true;
  if (code == kPicture) {
    if (!PictureEnds()) return false;
    // The packet's stamp goes to the first picture whose start code begins in its payload.
    if (stamp_ != kNoStamp && payload_fed_ >= 3) {
      if (!StampFits(stamp_)) return false;
      stamp_ = kNoStamp;
    }
    ++pictures_;
    in_picture_ = true;
    last_row_ = 0;
    return true;
  }
  if (code <= kLastSlice) return SliceFits(code);
  if (code == kSequenceHeader || code == kGroup || code == kSequenceEnd) {
    if (!PictureEnds()) return false;
    in_picture_ = false;
    if (code == kSequenceHeader) header_left_ = kRateCodeByte;
    return true;
  }
  // Only MPEG-2 has extensions.
  if (code == kExtension) every_row_ = true;
  // User data and extensions come anywhere between the headers; other codes are no video's.
  return code == kUserData || code == kExtension;
}

bool MpegVideoTrack::SliceFits(uint32_t row) {
  if (!in_picture_) return true;  // a stream's first piece may start inside a picture
  if (row < last_row_) return false;
  const bool skips = row > last_row_ + 1;
  if (every_row_ && (skips || (learned_ && row > rows_))) return false;
  if (!learned_ && skips) skipped_ = true;
  last_row_ = row;
  return true;
}

// The picture fed so far ends: it must reach the last row when every picture does.
bool MpegVideoTrack::PictureEnds() {
  if (!in_picture_ || last_row_ == 0) return true;
  if (learned_) return !every_row_ || last_row_ == rows_;
  learned_ = true;
  every_row_ = every_row_ || !skipped_;
  rows_ = last_row_;
  return true;
}

// From one stamped picture to the next, the stamps move on by the pictures' durations: a frame
// period each, half of one for a field picture, one and a half for a frame that repeats a field.
bool MpegVideoTrack::StampFits(uint64_t stamp) {
  const uint64_t period = FramePeriod(rate_code_);
  const uint64_t pictures = pictures_ - last_stamped_picture_;
  if (last_stamp_ != kNoStamp && period != 0 && pictures != 0) {
    const uint64_t step = 4 * ((stamp - last_stamp_) & kStampMask);
    const uint64_t frames = pictures * period;
    if (step + kStampSlack < frames / 2 || step > frames + frames / 2 + kStampSlack) return false;
  }
  last_stamp_ = stamp;
  last_stamped_picture_ = pictures_;
  return true;
}

}  // namespace kestrel
