#include "carve/formats/mpeg_ps_check.h"

#include <algorithm>
#include <array>
#include <bitset>

#include "carve/formats/mpeg_ps.h"
#include "carve/formats/source_window.h"
#include "platform/byte_order.h"

namespace kestrel {
namespace {

// A unit's start: a pack header, or a packet's header up to its time stamps (MPEG-1: 16 bytes
// of stuffing, the buffer size and two time stamps).
constexpr size_t kHeadBytes = 40;
constexpr size_t kPayloadPieceBytes = 4096;
constexpr uint64_t kClockWrap = uint64_t{1} << 33;
// Steps between the sound's time stamps seen before a steady chain's mark that let the first
// one past it be judged, and what that one may take beyond twice the largest (90 kHz ticks).
constexpr uint32_t kMinAudioSteps = 4;
constexpr uint64_t kAudioStepSlack = 9'000;
constexpr uint8_t kAllAudio = 0xB8;
constexpr uint8_t kAllVideo = 0xB9;
// Zero bytes a Video CD puts after some packs (20) and at the stream's end.
constexpr size_t kMaxZeroRun = 64;

bool IsAudio(uint8_t id) {
  return id >= 0xC0 && id <= 0xDF;
}
bool IsVideo(uint8_t id) {
  return id >= 0xE0 && id <= 0xEF;
}

bool ListsVideo(const std::bitset<256>& listed) {
  for (uint32_t id = 0xE0; id <= 0xEF; ++id) {
    if (listed.test(id)) return true;
  }
  return listed.test(kAllVideo);
}

// Streams whose packets carry no header fields after their length: program stream map, padding,
// private stream 2, ECM, EMM, directory, DSM-CC and ITU-T H.222.1 type E.
bool HasPacketHeader(uint8_t id) {
  switch (id) {
    case 0xBC:
    case 0xBE:
    case 0xBF:
    case 0xF0:
    case 0xF1:
    case 0xF2:
    case 0xF8:
    case 0xFF:
      return false;
    default:
      return true;
  }
}

// A time stamp's 5 bytes: the 4-bit prefix, then three parts each closed by a marker bit.
bool TimeStampAt(const uint8_t* p, uint8_t prefix) {
  return (p[0] >> 4) == prefix && (p[0] & 1) != 0 && (p[2] & 1) != 0 && (p[4] & 1) != 0;
}

// The length of an MPEG-1 packet's header, inside a packet of `length` bytes (0 when it does not
// fit): up to 16 stuffing bytes, an optional buffer size, then a time stamp, two, or the byte 0F.
size_t Mpeg1PacketHeaderLength(const uint8_t* p, uint64_t length) {
  size_t i = 6;
  while (p[i] == 0xFF && i < 6 + 16) ++i;
  if ((p[i] & 0xC0) == 0x40) i += 2;
  size_t fields = 0;
  if (TimeStampAt(p + i, 2)) {
    fields = 5;
  } else if (TimeStampAt(p + i, 3) && TimeStampAt(p + i + 5, 1)) {
    fields = 10;
  } else if (p[i] == 0x0F) {
    fields = 1;
  } else {
    return 0;
  }
  return i + fields <= length ? i + fields : 0;
}

// An MPEG-2 packet's header of `length` bytes: '10' and the flags, the header data length
// within the packet, and the time stamps the flags announce.
bool Mpeg2PacketHeaderFits(const uint8_t* p, uint64_t length) {
  if ((p[6] & 0xC0) != 0x80 || 9u + p[8] > length) return false;
  switch (p[7] >> 6) {
    case 0:
      return true;
    case 2:
      return p[8] >= 5 && TimeStampAt(p + 9, 2);
    case 3:
      return p[8] >= 10 && TimeStampAt(p + 9, 3) && TimeStampAt(p + 14, 1);
    default:
      return false;
  }
}

// The length of a packet's header (its start code and length included), 0 when it does not fit in
// the packet's `length` bytes.
size_t PacketHeaderLength(const uint8_t* p, uint64_t length, MpegSystem system) {
  if (!HasPacketHeader(p[3])) return 6;
  if (system == MpegSystem::kMpeg1) return Mpeg1PacketHeaderLength(p, length);
  return Mpeg2PacketHeaderFits(p, length) ? 9u + p[8] : 0;
}

uint64_t StampAt(const uint8_t* p) {
  return (uint64_t{p[0]} >> 1 & 7) << 30 | uint64_t{p[1]} << 22 | uint64_t{p[2]} >> 1 << 15 |
         uint64_t{p[3]} << 7 | p[4] >> 1;
}

// A packet's decoding time stamp, or its presentation time stamp when it has none.
uint64_t DecodingStamp(const uint8_t* p, MpegSystem system) {
  if (system == MpegSystem::kMpeg2) {
    const uint8_t flags = p[7] >> 6;
    if (flags == 2) return StampAt(p + 9);
    return flags == 3 ? StampAt(p + 14) : MpegVideoTrack::kNoStamp;
  }
  size_t i = 6;
  while (p[i] == 0xFF && i < 6 + 16) ++i;
  if ((p[i] & 0xC0) == 0x40) i += 2;
  if (TimeStampAt(p + i, 2)) return StampAt(p + i);
  return TimeStampAt(p + i, 3) ? StampAt(p + i + 5) : MpegVideoTrack::kNoStamp;
}

uint32_t MuxRate(const uint8_t* p, MpegSystem system) {
  if (system == MpegSystem::kMpeg1) return (p[9] & 0x7Fu) << 15 | p[10] << 7 | p[11] >> 1;
  return uint32_t{p[10]} << 14 | p[11] << 6 | p[12] >> 2;
}

// A system header's bound on the packs' mux rates.
uint32_t RateBound(const uint8_t* p) {
  return (p[6] & 0x7Fu) << 15 | p[7] << 7 | p[8] >> 1;
}

}  // namespace

MpegChain::Reach MpegChain::Follow(SourceWindow& window, uint64_t at, uint64_t end,
                                   uint64_t max_units, MpegChain* before_last) {
  const uint64_t length = window.length();
  Reach reach;
  for (uint64_t units = 0; at < std::min(end, length); ++units) {
    reach.at = at;
    if (units == max_units) return reach.Stopped(Whole::kUnchecked);
    uint8_t head[kHeadBytes];
    if (!window.Padded(at, head, sizeof head)) return reach.Stopped(Whole::kUnchecked);
    const MpegUnit unit = MpegUnitAt(head);
    if (unit.kind == MpegUnitKind::kNone && at > 0) {
      const uint64_t next = AfterZeroRun(window, at);
      if (next == at) return reach.Stopped(Unreached(window));
      at = next;
      continue;
    }
    if (unit.kind == MpegUnitKind::kNone || unit.length > length - at) {
      return reach.Stopped(Whole::kNo);
    }
    if (at == 0 && unit.kind != MpegUnitKind::kPack) return reach.Stopped(Whole::kNo);
    MpegChain before;
    if (before_last != nullptr) before = *this;
    bool fits = true;
    if (unit.kind == MpegUnitKind::kPack) {
      if (at >= mark_ && clock_step_ == kNoClockStep) clock_step_ = unit.clock - clock_;
      fits = PackFits(unit, head);
    }
    if (unit.kind == MpegUnitKind::kSystemHeader) {
      const uint8_t* header = window.At(at, static_cast<size_t>(unit.length));
      if (header == nullptr) return reach.Stopped(Whole::kUnchecked);
      fits = SystemHeaderFits(header, static_cast<size_t>(unit.length));
    }
    if (unit.kind == MpegUnitKind::kPacket) {
      fits = PacketFits(head, unit.length) && VideoFits(window, at, head, unit.length) &&
             AudioFits(at, head);
    }
    if (!fits) {
      reach.misfit = true;
      return reach.Stopped(Whole::kNo);
    }
    if (before_last != nullptr) *before_last = before;
    reach.last = at;
    if (at >= mark_ && unit.kind != MpegUnitKind::kEnd) ++units_past_mark_;
    at += unit.length;
    if (unit.kind == MpegUnitKind::kEnd) {
      reach.end_code = true;
      if (stop_at_end_code_) break;
    }
  }
  reach.at = at;
  // A stream whose system headers list video carries some (a stream from a later pack with a
  // system header, past its video, is the tail of another).
  reach.whole = packets_ > 0 && (video_id_ != 0 || !ListsVideo(listed_)) ? Whole::kYes : Whole::kNo;
  return reach;
}

// Past a run of zero bytes at `at` that ends the stream or comes before a pack header; `at`
// itself when there is none (or the source cannot be read).
uint64_t MpegChain::AfterZeroRun(SourceWindow& window, uint64_t at) {
  const size_t span =
      static_cast<size_t>(std::min<uint64_t>(kMaxZeroRun + 4, window.length() - at));
  const uint8_t* p = window.At(at, span);
  if (p == nullptr) return at;
  size_t zeros = 0;
  while (zeros < span && p[zeros] == 0) ++zeros;
  if (zeros == span && at + span == window.length()) return window.length();
  // A pack start code's own two zeros end the run.
  const bool pack = zeros >= 2 && zeros + 1 < span && p[zeros] == 1 && p[zeros + 1] == 0xBA;
  return pack && zeros - 2 <= kMaxZeroRun ? at + zeros - 2 : at;
}

bool MpegChain::PackFits(const MpegUnit& unit, const uint8_t* p) {
  if (system_ == MpegSystem::kUnknown) system_ = unit.system;
  const uint32_t rate = MuxRate(p, unit.system);
  if (unit.system != system_ || rate == 0 || (rate_bound_ != 0 && rate > rate_bound_)) {
    return false;
  }
  if (steady_) {
    // One writer's stream: one mux rate, and the clock moves on by little from pack to pack.
    if (packs_ > 0 &&
        (rate != mux_rate_ || unit.clock <= clock_ || unit.clock - clock_ > kMaxSteadyClockStep)) {
      return false;
    }
    mux_rate_ = rate;
  }
  ++packs_;
  // Back by more than half the clock's range: the clock wrapped.
  const bool back = unit.clock < clock_ && clock_ - unit.clock < kClockWrap / 2;
  clock_ = unit.clock;
  return !back;
}

// A system header with its marker bits that agrees with the earlier ones: the same rate
// bound, and the same buffer size for a stream an earlier one listed. (A Video CD's headers
// each list one stream: the video packs' and the sound packs'.)
bool MpegChain::SystemHeaderFits(const uint8_t* p, size_t length) {
  if ((p[6] & 0x80) == 0 || (p[8] & 0x01) == 0 || (p[10] & 0x20) == 0) return false;
  if (rate_bound_ != 0 && RateBound(p) != rate_bound_) return false;
  rate_bound_ = RateBound(p);
  for (size_t at = 12; at + 3 <= length; at += 3) {
    const uint8_t id = p[at];
    const uint16_t buffer = LoadBe16(p + at + 1);
    if (id < kAllAudio || (buffer & 0xC000) != 0xC000) return false;
    if (listed_.test(id) && buffers_[id] != buffer) return false;
    listed_.set(id);
    buffers_[id] = buffer;
  }
  return true;
}

bool MpegChain::PacketFits(const uint8_t* p, uint64_t length) {
  const uint8_t id = p[3];
  ++packets_;
  if (listed_.any()) {
    const bool listed = listed_.test(id) || (IsAudio(id) && listed_.test(kAllAudio)) ||
                        (IsVideo(id) && listed_.test(kAllVideo));
    if ((IsAudio(id) || IsVideo(id)) && !listed) return false;
  }
  return PacketHeaderLength(p, length, system_) != 0;
}

// The first video stream's packet at `at`: its payload goes on with the stream's start codes (and
// in a steady chain, its time stamps) (mpeg_video_track.h).
bool MpegChain::VideoFits(SourceWindow& window, uint64_t at, const uint8_t* head, uint64_t length) {
  const uint8_t id = head[3];
  if (!IsVideo(id)) return true;
  if (video_id_ == 0) video_id_ = id;
  if (id != video_id_) return true;
  const size_t header = PacketHeaderLength(head, length, system_);
  track_.NewPacket(steady_ ? DecodingStamp(head, system_) : MpegVideoTrack::kNoStamp);
  // Read in pieces: a small window holds a packet's payload a piece at a time.
  for (uint64_t done = header; done < length;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(length - done, kPayloadPieceBytes));
    const uint8_t* payload = window.At(at + done, n);
    if (payload == nullptr || !track_.Feed(payload, n)) return false;
    done += n;
  }
  return true;
}

bool MpegChain::AudioFits(uint64_t at, const uint8_t* head) {
  const uint8_t id = head[3];
  if (!steady_ || !IsAudio(id)) return true;
  if (audio_id_ == 0) audio_id_ = id;
  const uint64_t stamp = DecodingStamp(head, system_);
  if (id != audio_id_ || stamp == MpegVideoTrack::kNoStamp) return true;
  const uint64_t last = audio_stamp_;
  audio_stamp_ = stamp;
  if (last == MpegVideoTrack::kNoStamp) return true;
  if (stamp <= last) return last - stamp > kClockWrap / 2;  // only a wrap goes back
  const uint64_t step = stamp - last;
  if (at < mark_) {
    audio_step_ = std::max(audio_step_, step);
    ++audio_steps_;
    return true;
  }
  if (audio_marked_) return true;
  audio_marked_ = true;
  return audio_steps_ < kMinAudioSteps || step <= 2 * audio_step_ + kAudioStepSlack;
}

Whole CheckMpegProgramStream(ByteSource& source, uint64_t start, uint64_t length) {
  SourceWindow window(source, start, length, kMpegWindowBytes);
  MpegChain chain;
  const MpegChain::Reach reach = chain.Follow(window, 0, length, kMaxMpegCheckUnits);
  // Without an end code nothing but the last picture tells a stream's end from a cut.
  if (reach.whole == Whole::kYes && !reach.end_code && !chain.VideoMayEndHere()) return Whole::kNo;
  return reach.whole;
}

}  // namespace kestrel
