#pragma once
// MP3 and the other MPEG audio streams (MPEG-1, 2 and 2.5, layers I to III): an optional ID3v2
// tag, then frames followed by the lengths their headers give, carried across sectors; after the
// last frame an APE tag and a 128-byte ID3v1 tag are taken when they follow. The stream ends
// where the next bytes are none of these, at a frame of another version, layer or sample rate,
// at a Xing, Info or VBRI frame after the first frame (an encoder's first frame: another file
// begins), or at the size cap.

#include <cstdint>

#include "carve/format.h"
#include "carve/formats/counted.h"
#include "carve/formats/zip.h"
#include "carve/sector_input.h"
#include "carve/signature.h"

namespace kestrel {

// The largest MP3 carved (more than seven hours at 320 kbit/s): a longer walk ends the file there.
inline constexpr uint64_t kMaxMp3Bytes = uint64_t{1} << 30;
// Fewer whole frames than this are taken for chance bytes, not a stream.
inline constexpr uint32_t kMinMp3Frames = 4;
// Zero bytes passed over between an ID3v2 tag and the first frame (padding left outside the tag).
inline constexpr uint32_t kMaxMp3LeadZeros = 4096;

// An ID3v1 tag's length; an APE tag's header or footer; the largest APE tag taken (a larger one
// is taken for chance bytes).
inline constexpr uint32_t kMp3Id3v1Bytes = 128;
inline constexpr uint32_t kApeFrameBytes = 32;
inline constexpr uint32_t kMaxApeTagBytes = 16u << 20;

enum class Mp3Unit : uint8_t { kNone, kId3v2, kLeadZero, kFrame, kApe, kId3v1 };

struct Mp3State {
  uint64_t unit_left = 0;  // bytes left of the current tag or frame
  Mp3Unit unit = Mp3Unit::kNone;
  uint32_t frames = 0;  // whole frames
  uint32_t lead_zeros = 0;
  // Version, layer and sample-rate bits of the first frame; every frame of the stream has them.
  uint16_t stream = 0;
  bool ape = false;       // an APE tag followed the frames
  bool complete = false;  // the walk found the file's end
};

struct Mp3Frame {
  uint32_t length = 0;  // 0: no valid frame header
  // The version, layer and sample-rate bits, which every frame of a stream repeats.
  uint16_t stream = 0;
};
// The frame whose 4-byte header is at `p`. Free-format streams (bitrate index 0), which give
// no length, and reserved values are no frame.
Mp3Frame Mp3FrameAt(const uint8_t* p);
// The length of the ID3v2 tag at `p` (10 bytes; its footer included), 0 when there is none.
uint64_t Id3v2LengthAt(const uint8_t* p);
// The length of the APE tag whose header is at `p` (32 bytes; header, items and footer), 0
// when there is none.
uint64_t ApeLengthAt(const uint8_t* p);
// A frame (40 bytes at `p`) that opens with a Xing, Info or VBRI header (after the side
// information, whose size depends on version and channels, or at 32 bytes past the header for
// VBRI): the first frame of an encoder's stream.
bool Mp3InfoFrameAt(const uint8_t* p);

// Whether the layer III frame at `p` (`length` bytes; its header, CRC and side information
// readable) takes part of its main data from the frames before it (main_data_begin above 0, the
// bit reservoir). A stream's first frame has no frames before it to borrow from.
bool Mp3BorrowsMainData(const uint8_t* p, uint32_t length);

// A sector that starts with an MPEG audio frame header whose next frame follows right after it.
bool Mp3FramesStartAt(const SectorInput& in);

Fed FeedMp3(Mp3State& state, const CarveView& view);
// Kept when the walk found its end (a file cut off by a header or a cancel is not) after at
// least kMinMp3Frames frames, and when its frames show it whole (mp3_check.h).
Kept FinishMp3(const Mp3State& state);

template <>
struct FormatOps<Mp3State> : Ops<FeedMp3, FinishMp3> {};

inline constexpr GuardMark kMp3Guard{"MP3"};

// An ID3v2 tag header.
Match MatchMp3(const RowInput& r, Start* s);
// An MPEG audio stream without a tag: a frame header whose next frame follows right after it.
Match MatchMp3Frames(const RowInput& r, Start* s);

inline constexpr SignatureRow kMp3Row{.test = MatchMp3,
                                      .gate = {0, "I"},
                                      .guarded_by = {&kZipGuard, &kSealedGuard},
                                      .selection = Bits({kMp3}),
                                      .extension = "MP3",
                                      .guards = {&kMp3Guard}};
// Audio frames are common inside other files' data, so a frame header starts nothing inside an
// open file that guards anything.
inline constexpr SignatureRow kMp3FramesRow{.test = MatchMp3Frames,
                                            .gate = {0, "\xFF"},
                                            .guarded_by = GuardList::Every(),
                                            .selection = Bits({kMp3}),
                                            .extension = "MP3",
                                            .guards = {&kMp3Guard}};

}  // namespace kestrel
