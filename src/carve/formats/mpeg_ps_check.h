#pragma once
// Whether a carved MPEG program stream (MPEG-1 or MPEG-2 system) is whole, told by its chain of
// units: from the first pack header on, pack headers (with their stuffing), system headers, PES
// packets (padding included) and end codes must each start with 00 00 01 exactly where the last
// one ended, up to the file's end; only a short run of zeros may come before a pack header or
// end the stream (a Video CD puts 20 after some packs). Along the chain:
// - every pack is of the first pack's system, states a mux rate within the system headers'
//   rate bound, and its clock reference never goes back (but for a wrap of the 33-bit clock);
// - the system headers have their marker bits and agree: one rate bound, and one buffer size
//   for each stream they list;
// - an audio or video packet belongs to a stream a system header lists (by its id or by the
//   all-audio and all-video entries);
// - a packet's header follows its system's syntax (MPEG-1 stuffing, buffer size and time stamps;
//   MPEG-2 flags, time stamps and header length) inside the packet;
// - a stream whose system headers list video carries some, and the first video stream's first
//   start code is a sequence header (a stream from a later pack that holds a system header is
//   the tail of another); its slices go on row by row (mpeg_video_track.h), which a seam into
//   other bytes of video breaks.
// Foreign bytes in the middle break the chain at the next unit start (packs are at most a few
// KiB), and the tail of another stream breaks the clock, the system, the rate or the streams.
//
// Not seen: whole packs missing, or replaced by packs of a stream alike in system, streams and
// clock (DVD-style streams put every pack on a 2 KiB boundary, so a 4 KiB block holds whole
// packs). The packets' contents (video and audio) are not decoded. The program end code is not
// required: ffmpeg writes none. Without it, a stream whose pictures all have slices on every row
// must end with its last picture reaching its last row: a stream cut between two packs mostly
// ends inside a picture.
//
// At most kMaxMpegCheckUnits units are followed; a longer chain is unchecked.

#include <array>
#include <bitset>
#include <cstdint>

#include "carve/format.h"
#include "carve/formats/mpeg_ps.h"
#include "carve/formats/mpeg_video_track.h"
#include "carve/formats/source_window.h"
#include "platform/byte_source.h"

namespace kestrel {

inline constexpr uint32_t kMaxMpegCheckUnits = 8'000'000;
// Holds a whole system header (at most 6 + 65535 bytes).
inline constexpr size_t kMpegWindowBytes = 80 * 1024;

// The chain of a program stream's units followed under the rules above, from its first pack
// header on; a copy holds what the units so far said (for a search that follows the chain on
// from several places).
class MpegChain {
 public:
  // The steadier stream of one writer, for the search for a stream's fragments: every pack
  // states the first one's mux rate, its clock reference rises by at most a second, the first
  // video stream's start codes and time stamps go on (mpeg_video_track.h), and the first audio
  // stream's time stamps rise; past the mark, the first one by no more than twice the largest
  // step between them before it and a tenth of a second (another stream of the same settings
  // at another moment of its sound does not go on with this one).
  static MpegChain Steady() {
    MpegChain chain;
    chain.steady_ = true;
    chain.stop_at_end_code_ = true;
    return chain;
  }

  struct Reach {
    uint64_t at = 0;    // where the chain stopped: the first byte no unit that fits starts at
    uint64_t last = 0;  // where the last unit that fit starts
    Whole whole = Whole::kNo;
    bool end_code = false;  // the last unit that fit is a program end code
    bool misfit = false;    // it stopped at a unit that breaks the rules, not at foreign bytes
    Reach Stopped(Whole verdict) {
      whole = verdict;
      return *this;
    }
  };

  // Follows the units of `window` from file offset `at` until one does not fit or the window's
  // end, or one starts at or past `end`, or after `max_units` (unchecked); a steady chain stops
  // after a program end code. `before_last`, when given, gets the chain as it was before the last
  // unit that fit. Whole: every unit up to the window's end (or `end`) fit, packets among them.
  Reach Follow(SourceWindow& window, uint64_t at, uint64_t end, uint64_t max_units,
               MpegChain* before_last = nullptr);

  // How far the clock moved from the last pack before `at` to the first pack from file offset `at`
  // on, as a chain marked at `at` follows its units (kNoClockStep when it met no such pack).
  void MarkClockStepAt(uint64_t at) { mark_ = at; }
  uint64_t clock_step() const { return clock_step_; }
  // Packs, system headers and packets that fit from the marked offset on.
  uint64_t units_past_mark() const { return units_past_mark_; }
  static constexpr uint64_t kNoClockStep = ~uint64_t{0};

  // Whether the first video stream may end where the chain stopped (mpeg_video_track.h).
  bool VideoMayEndHere() const { return track_.MayEndHere(); }

  uint64_t packets() const { return packets_; }
  uint64_t packs() const { return packs_; }

 private:
  static uint64_t AfterZeroRun(SourceWindow& window, uint64_t at);
  bool PackFits(const MpegUnit& unit, const uint8_t* p);
  bool SystemHeaderFits(const uint8_t* p, size_t length);
  bool PacketFits(const uint8_t* p, uint64_t length);
  bool VideoFits(SourceWindow& window, uint64_t at, const uint8_t* head, uint64_t length);
  bool AudioFits(uint64_t at, const uint8_t* head);

  static constexpr uint64_t kMaxSteadyClockStep = 90'000;

  bool steady_ = false;
  bool stop_at_end_code_ = false;
  MpegSystem system_ = MpegSystem::kUnknown;
  uint64_t clock_ = 0;
  uint64_t packets_ = 0;
  uint64_t packs_ = 0;
  uint32_t mux_rate_ = 0;                // of the packs, in a steady chain
  uint32_t rate_bound_ = 0;              // of the system headers (0: none yet)
  std::bitset<256> listed_;              // the streams they list
  std::array<uint16_t, 256> buffers_{};  // and each one's buffer size field
  uint64_t mark_ = ~uint64_t{0};
  uint64_t clock_step_ = kNoClockStep;
  uint64_t units_past_mark_ = 0;
  uint8_t video_id_ = 0;  // the first video stream's
  MpegVideoTrack track_;  // its start codes and stamps, in a steady chain
  // The first audio stream's, in a steady chain: its last time stamp, the largest step between
  // two before the mark and how many, and whether the first past the mark was met.
  uint8_t audio_id_ = 0;
  uint64_t audio_stamp_ = MpegVideoTrack::kNoStamp;
  uint64_t audio_step_ = 0;
  uint32_t audio_steps_ = 0;
  bool audio_marked_ = false;
};

Whole CheckMpegProgramStream(ByteSource& source, uint64_t start, uint64_t length);

}  // namespace kestrel
