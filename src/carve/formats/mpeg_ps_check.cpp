#include "carve/formats/mpeg_ps_check.h"

#include <algorithm>
#include <array>
#include <bitset>

#include "carve/formats/mpeg_ps.h"
#include "carve/formats/source_window.h"
#include "platform/byte_order.h"

namespace kestrel {
namespace {

// Holds a whole system header (at most 6 + 65535 bytes).
constexpr size_t kWindowBytes = 80 * 1024;
// A unit's start: a pack header, or a packet's header up to its time stamps (MPEG-1: 16 bytes
// of stuffing, the buffer size and two time stamps).
constexpr size_t kHeadBytes = 40;
constexpr uint64_t kClockWrap = uint64_t{1} << 33;
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

// An MPEG-1 packet's header of `length` bytes: up to 16 stuffing bytes, an optional buffer
// size, then a time stamp, two, or the byte 0F.
bool Mpeg1PacketHeaderFits(const uint8_t* p, uint64_t length) {
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
    return false;
  }
  return i + fields <= length;
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

uint32_t MuxRate(const uint8_t* p, MpegSystem system) {
  if (system == MpegSystem::kMpeg1) return (p[9] & 0x7Fu) << 15 | p[10] << 7 | p[11] >> 1;
  return uint32_t{p[10]} << 14 | p[11] << 6 | p[12] >> 2;
}

// A system header's bound on the packs' mux rates.
uint32_t RateBound(const uint8_t* p) {
  return (p[6] & 0x7Fu) << 15 | p[7] << 7 | p[8] >> 1;
}

class ProgramStreamCheck {
 public:
  ProgramStreamCheck(ByteSource& source, uint64_t start, uint64_t length)
      : window_(source, start, length, kWindowBytes) {}

  Whole Run() {
    const uint64_t length = window_.length();
    uint64_t at = 0;
    for (uint32_t units = 0; at < length; ++units) {
      if (units == kMaxMpegCheckUnits) return Whole::kUnchecked;
      uint8_t head[kHeadBytes];
      if (!window_.Padded(at, head, sizeof head)) return Whole::kUnchecked;
      const MpegUnit unit = MpegUnitAt(head);
      if (unit.kind == MpegUnitKind::kNone && at > 0) {
        const uint64_t next = AfterZeroRun(at);
        if (next == at) return Unreached(window_);
        at = next;
        continue;
      }
      if (unit.kind == MpegUnitKind::kNone || unit.length > length - at) return Whole::kNo;
      if (at == 0 && unit.kind != MpegUnitKind::kPack) return Whole::kNo;
      bool fits = true;
      if (unit.kind == MpegUnitKind::kPack) fits = PackFits(unit, head);
      if (unit.kind == MpegUnitKind::kSystemHeader) {
        const uint8_t* header = window_.At(at, static_cast<size_t>(unit.length));
        if (header == nullptr) return Whole::kUnchecked;
        fits = SystemHeaderFits(header, static_cast<size_t>(unit.length));
      }
      if (unit.kind == MpegUnitKind::kPacket) fits = PacketFits(head, unit.length);
      if (!fits) return Whole::kNo;
      at += unit.length;
    }
    return packets_ > 0 ? Whole::kYes : Whole::kNo;
  }

 private:
  // Past a run of zero bytes at `at` that ends the stream or comes before a pack header; `at`
  // itself when there is none (or the source cannot be read).
  uint64_t AfterZeroRun(uint64_t at) {
    const size_t span =
        static_cast<size_t>(std::min<uint64_t>(kMaxZeroRun + 4, window_.length() - at));
    const uint8_t* p = window_.At(at, span);
    if (p == nullptr) return at;
    size_t zeros = 0;
    while (zeros < span && p[zeros] == 0) ++zeros;
    if (zeros == span && at + span == window_.length()) return window_.length();
    // A pack start code's own two zeros end the run.
    const bool pack = zeros >= 2 && zeros + 1 < span && p[zeros] == 1 && p[zeros + 1] == 0xBA;
    return pack && zeros - 2 <= kMaxZeroRun ? at + zeros - 2 : at;
  }

  bool PackFits(const MpegUnit& unit, const uint8_t* p) {
    if (system_ == MpegSystem::kUnknown) system_ = unit.system;
    const uint32_t rate = MuxRate(p, unit.system);
    if (unit.system != system_ || rate == 0 || (rate_bound_ != 0 && rate > rate_bound_)) {
      return false;
    }
    // Back by more than half the clock's range: the clock wrapped.
    const bool back = unit.clock < clock_ && clock_ - unit.clock < kClockWrap / 2;
    clock_ = unit.clock;
    return !back;
  }

  // A system header with its marker bits that agrees with the earlier ones: the same rate
  // bound, and the same buffer size for a stream an earlier one listed. (A Video CD's headers
  // each list one stream: the video packs' and the sound packs'.)
  bool SystemHeaderFits(const uint8_t* p, size_t length) {
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

  bool PacketFits(const uint8_t* p, uint64_t length) {
    const uint8_t id = p[3];
    ++packets_;
    if (listed_.any()) {
      const bool listed = listed_.test(id) || (IsAudio(id) && listed_.test(kAllAudio)) ||
                          (IsVideo(id) && listed_.test(kAllVideo));
      if ((IsAudio(id) || IsVideo(id)) && !listed) return false;
    }
    if (!HasPacketHeader(id)) return true;
    return system_ == MpegSystem::kMpeg1 ? Mpeg1PacketHeaderFits(p, length)
                                         : Mpeg2PacketHeaderFits(p, length);
  }

  SourceWindow window_;
  MpegSystem system_ = MpegSystem::kUnknown;
  uint64_t clock_ = 0;
  uint64_t packets_ = 0;
  uint32_t rate_bound_ = 0;              // of the system headers (0: none yet)
  std::bitset<256> listed_;              // the streams they list
  std::array<uint16_t, 256> buffers_{};  // and each one's buffer size field
};

}  // namespace

Whole CheckMpegProgramStream(ByteSource& source, uint64_t start, uint64_t length) {
  return ProgramStreamCheck(source, start, length).Run();
}

}  // namespace kestrel
