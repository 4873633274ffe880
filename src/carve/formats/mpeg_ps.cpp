#include "carve/formats/mpeg_ps.h"

#include <algorithm>

#include "carve/formats/mpeg_ps_check.h"
#include "carve/formats/mpeg_ps_reassembly.h"
#include "platform/byte_order.h"

namespace kestrel {
namespace {

constexpr uint8_t kEndCode = 0xB9;
constexpr uint8_t kPackStart = 0xBA;
constexpr uint8_t kSystemHeaderStart = 0xBB;
// Stream ids from 0xBC on (program stream map, private, padding, audio, video, ...) start PES
// packets.
constexpr uint8_t kFirstStreamId = 0xBC;
// The system header's fixed fields; each stream it lists adds 3 bytes.
constexpr uint16_t kSystemHeaderFixed = 6;

// The 33-bit system clock reference of a pack header, split by marker bits.
uint64_t Mpeg1Clock(const uint8_t* p) {
  const auto b = [p](int k) { return uint64_t{p[k]}; };
  return (b(4) >> 1 & 7) << 30 | b(5) << 22 | (b(6) >> 1) << 15 | b(7) << 7 | b(8) >> 1;
}
uint64_t Mpeg2Clock(const uint8_t* p) {
  const auto b = [p](int k) { return uint64_t{p[k]}; };
  return (b(4) >> 3 & 7) << 30 | (b(4) & 3) << 28 | b(5) << 20 | (b(6) >> 3) << 15 |
         (b(6) & 3) << 13 | b(7) << 5 | b(8) >> 3;
}

bool StartCodeAt(const uint8_t* p) {
  return p[0] == 0 && p[1] == 0 && p[2] == 1;
}

// Whether `unit`, at file offset `at` with `room` source bytes from it, goes on with the stream.
// A pack of the other system, or whose clock reference went back, begins another stream.
bool Continues(const MpegState& state, const MpegUnit& unit, uint64_t at, uint64_t room) {
  if (unit.kind == MpegUnitKind::kNone || unit.length > room || at + unit.length > kMaxMpegBytes) {
    return false;
  }
  if (unit.kind != MpegUnitKind::kPack || state.system == MpegSystem::kUnknown) return true;
  return unit.system == state.system && unit.clock >= state.clock;
}

Fed End(MpegState& state, uint64_t at) {
  state.complete = true;
  return Complete(at);
}

}  // namespace

MpegUnit MpegUnitAt(const uint8_t* p) {
  if (!StartCodeAt(p)) return {};
  const uint8_t id = p[3];
  if (id == kEndCode) return {MpegUnitKind::kEnd, 4};
  if (id == kPackStart) {
    const MpegSystem system = PackHeaderAt(p);
    if (system == MpegSystem::kMpeg1) return {MpegUnitKind::kPack, 12, system, Mpeg1Clock(p)};
    if (system == MpegSystem::kMpeg2) {
      return {MpegUnitKind::kPack, 14u + (p[13] & 7u), system, Mpeg2Clock(p)};
    }
    return {};
  }
  if (id < kSystemHeaderStart) return {};
  const uint16_t length = LoadBe16(p + 4);
  if (id == kSystemHeaderStart) {
    if (length < kSystemHeaderFixed || (length - kSystemHeaderFixed) % 3 != 0) return {};
    return {MpegUnitKind::kSystemHeader, 6u + length};
  }
  // A program stream's packets always state their length.
  if (id < kFirstStreamId || length == 0) return {};
  return {MpegUnitKind::kPacket, 6u + length};
}

MpegSystem PackHeaderAt(const uint8_t* p) {
  if (!StartCodeAt(p) || p[3] != kPackStart) return MpegSystem::kUnknown;
  // MPEG-1: '0010', the clock reference and the mux rate, each part closed by a marker bit.
  if ((p[4] & 0xF1) == 0x21 && (p[6] & 0x01) != 0 && (p[8] & 0x01) != 0 && (p[9] & 0x80) != 0 &&
      (p[11] & 0x01) != 0) {
    return MpegSystem::kMpeg1;
  }
  // MPEG-2: '01', the clock reference with its extension and the mux rate, marker bits between.
  if ((p[4] & 0xC4) == 0x44 && (p[6] & 0x04) != 0 && (p[8] & 0x04) != 0 && (p[9] & 0x01) != 0 &&
      (p[12] & 0x03) == 0x03) {
    return MpegSystem::kMpeg2;
  }
  return MpegSystem::kUnknown;
}

Fed FeedMpeg(MpegState& state, const CarveView& view) {
  const SectorInput& in = view.in;
  const uint64_t room = view.SourceRoom();
  uint64_t i = 0;
  while (i < in.count) {
    if (state.unit_left == 0) {
      // A header may continue into the following bytes (zeros past the source's end).
      const MpegUnit unit = MpegUnitAt(in.data + i);
      const uint64_t at = view.written + i;
      if (!Continues(state, unit, at, i > room ? 0 : room - i)) return End(state, i);
      if (unit.kind == MpegUnitKind::kEnd) {
        state.end_code = true;
        return End(state, i + unit.length);
      }
      if (unit.kind == MpegUnitKind::kPack) {
        state.system = unit.system;
        state.clock = unit.clock;
        state.packs += 1;
      }
      if (unit.kind == MpegUnitKind::kPacket) state.packets += 1;
      state.unit_left = unit.length;
    }
    const uint64_t step = std::min<uint64_t>(state.unit_left, in.count - i);
    i += step;
    state.unit_left -= step;
  }
  // On a boundary at the sector's end, the next bytes are read now: when they do not go on with
  // the stream (the source ends, or another stream starts in the next sector), the file ends
  // here and the next sector is free to start a file.
  if (state.unit_left == 0) {
    const uint64_t at = view.written + in.count;
    const uint64_t left = room > in.count ? room - in.count : 0;
    if (!Continues(state, MpegUnitAt(in.data + in.count), at, left)) return End(state, in.count);
  }
  return More(in.count);
}

Kept FinishMpeg(const MpegState& state) {
  if (!state.complete || state.packets == 0) return Drop();
  Kept kept = KeepChecked(CheckMpegProgramStream);
  kept.reassemble = ReassembleMpeg;
  kept.may_go_on = !state.end_code;
  // A first piece too short to tell a stream from a stray start code is kept only with the
  // pieces that go on with it.
  if (state.packs < kMinMpegPacks) {
    kept.keep = false;
    kept.pieces_elsewhere = kept.may_go_on;
  }
  return kept;
}

Match MatchMpeg(const RowInput& r, Start* s) {
  // A stream starts with a pack that holds a system header: a pack without one lies inside a
  // stream (a later piece of a fragmented stream is no stream of its own).
  const MpegUnit pack = MpegUnitAt(r.in.data);
  if (pack.kind != MpegUnitKind::kPack || !r.in.HasBytes(pack.length, 14)) return Match::kNo;
  const MpegUnit next = MpegUnitAt(r.in.data + pack.length);
  return next.kind == MpegUnitKind::kSystemHeader ? Opens(s, MpegState{}) : Match::kNo;
}

}  // namespace kestrel
