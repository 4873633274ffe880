#include "carve/formats/mp3.h"

#include <algorithm>
#include <cstring>

#include "carve/formats/mp3_check.h"
#include "carve/formats/mp3_reassembly.h"
#include "platform/byte_order.h"

namespace kestrel {
namespace {

// kbit/s by bitrate index: MPEG-1 layers I, II, III; MPEG-2 and 2.5 layer I; layers II and III.
constexpr uint16_t kBitrates[5][16] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
};
// MPEG-1 sample rates by index; MPEG-2 halves them, MPEG-2.5 quarters them.
constexpr uint32_t kSampleRates[3] = {44100, 48000, 32000};

constexpr uint32_t kId3v2HeaderBytes = 10;

}  // namespace

Mp3Frame Mp3FrameAt(const uint8_t* p) {
  if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return {};
  const uint32_t version = (p[1] >> 3) & 3;  // 0: MPEG-2.5, 1: reserved, 2: MPEG-2, 3: MPEG-1
  const uint32_t layer = (p[1] >> 1) & 3;    // 1: III, 2: II, 3: I
  const uint32_t bitrate_index = p[2] >> 4;
  const uint32_t rate_index = (p[2] >> 2) & 3;
  const uint32_t padding = (p[2] >> 1) & 1;
  const bool reserved_emphasis = (p[3] & 3) == 2;
  if (version == 1 || layer == 0 || rate_index == 3 || reserved_emphasis) return {};
  const bool mpeg1 = version == 3;
  const uint32_t table = mpeg1 ? 3 - layer : (layer == 3 ? 3 : 4);
  const uint32_t bitrate = kBitrates[table][bitrate_index] * 1000u;
  if (bitrate == 0) return {};
  const uint32_t rate = kSampleRates[rate_index] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
  uint32_t length = 0;
  if (layer == 3) {
    length = (12 * bitrate / rate + padding) * 4;
  } else {
    const uint32_t factor = layer == 1 && !mpeg1 ? 72 : 144;
    length = factor * bitrate / rate + padding;
  }
  const uint16_t stream = static_cast<uint16_t>((p[1] & 0xFE) << 8 | (p[2] & 0x0C));
  return {length, stream};
}

uint64_t Id3v2LengthAt(const uint8_t* p) {
  if (std::memcmp(p, "ID3", 3) != 0 || p[3] < 2 || p[3] > 4 || p[4] == 0xFF) return 0;
  if (p[6] >= 0x80 || p[7] >= 0x80 || p[8] >= 0x80 || p[9] >= 0x80) return 0;
  const uint64_t size = uint64_t{p[6]} << 21 | uint64_t{p[7]} << 14 | p[8] << 7 | p[9];
  const bool footer = p[3] == 4 && (p[5] & 0x10) != 0;
  return kId3v2HeaderBytes + size + (footer ? kId3v2HeaderBytes : 0);
}

uint64_t ApeLengthAt(const uint8_t* p) {
  if (std::memcmp(p, "APETAGEX", 8) != 0) return 0;
  const uint32_t version = LoadLe32(p + 8);
  const uint32_t size = LoadLe32(p + 12);  // items and footer
  const uint32_t flags = LoadLe32(p + 20);
  const bool header = (flags & (1u << 29)) != 0 && (flags & (1u << 31)) != 0;
  if ((version != 1000 && version != 2000) || !header) return 0;
  if (size < kApeFrameBytes || size > kMaxApeTagBytes) return 0;
  return uint64_t{size} + kApeFrameBytes;
}

bool Mp3BorrowsMainData(const uint8_t* p, uint32_t length) {
  if (((p[1] >> 1) & 3) != 1) return false;  // layers I and II keep their data in their frame
  const bool crc = (p[1] & 1) == 0;
  const uint32_t side = crc ? 6 : 4;
  if (length < side + 2) return false;
  // main_data_begin: the side information's first 9 bits (MPEG-1) or 8 bits (MPEG-2 and 2.5).
  const bool mpeg1 = ((p[1] >> 3) & 3) == 3;
  return mpeg1 ? (p[side] != 0 || (p[side + 1] & 0x80) != 0) : p[side] != 0;
}

bool Mp3InfoFrameAt(const uint8_t* p) {
  for (const size_t at : {13u, 21u, 36u}) {
    if (std::memcmp(p + at, "Xing", 4) == 0 || std::memcmp(p + at, "Info", 4) == 0) return true;
  }
  return std::memcmp(p + 36, "VBRI", 4) == 0;
}

namespace {

struct Unit {
  Mp3Unit kind = Mp3Unit::kNone;
  uint64_t length = 0;
  uint16_t stream = 0;
};

// What stands at `p`, file offset `at`: a tag or a frame of the stream, or nothing of it.
Unit UnitAt(const Mp3State& state, const uint8_t* p, uint64_t at) {
  if (at == 0) {
    if (const uint64_t length = Id3v2LengthAt(p); length != 0) return {Mp3Unit::kId3v2, length};
  }
  const bool trailer = state.ape || state.unit == Mp3Unit::kId3v1;
  if (!trailer) {
    const Mp3Frame frame = Mp3FrameAt(p);
    // After the first frame, a Xing, Info or VBRI frame begins another stream.
    const bool same = state.frames == 0 || (frame.stream == state.stream && !Mp3InfoFrameAt(p));
    if (frame.length != 0 && same) return {Mp3Unit::kFrame, frame.length, frame.stream};
  }
  if (state.frames == 0) {
    const bool lead = state.unit == Mp3Unit::kId3v2 || state.unit == Mp3Unit::kLeadZero;
    if (lead && p[0] == 0 && state.lead_zeros < kMaxMp3LeadZeros) return {Mp3Unit::kLeadZero, 1};
    return {};
  }
  if (state.unit == Mp3Unit::kFrame) {
    if (const uint64_t length = ApeLengthAt(p); length != 0) return {Mp3Unit::kApe, length};
  }
  // An ID3v1 tag stands right after the last frame or the APE tag.
  if (state.unit != Mp3Unit::kId3v1 && std::memcmp(p, "TAG", 3) == 0) {
    return {Mp3Unit::kId3v1, kMp3Id3v1Bytes};
  }
  return {};
}

// Whether `unit`, at file offset `at` with `room` source bytes from it, belongs to the file: a
// unit cut by the source's end or the size cap does not.
bool Fits(const Unit& unit, uint64_t at, uint64_t room) {
  return unit.kind != Mp3Unit::kNone && unit.length <= room && at + unit.length <= kMaxMp3Bytes;
}

// Counts the unit that has just ended.
void UnitDone(Mp3State& state) {
  if (state.unit == Mp3Unit::kFrame) state.frames += 1;
  if (state.unit == Mp3Unit::kLeadZero) state.lead_zeros += 1;
  if (state.unit == Mp3Unit::kApe) state.ape = true;
}

Fed End(Mp3State& state, uint64_t at) {
  state.complete = true;
  return Complete(at);
}

}  // namespace

bool Mp3FramesStartAt(const SectorInput& in) {
  const Mp3Frame first = Mp3FrameAt(in.data);
  if (first.length == 0 || !in.HasBytes(first.length, 4)) return false;
  const Mp3Frame second = Mp3FrameAt(in.data + first.length);
  return second.length != 0 && second.stream == first.stream;
}

Fed FeedMp3(Mp3State& state, const CarveView& view) {
  const SectorInput& in = view.in;
  const uint64_t room = view.SourceRoom();
  uint64_t i = 0;
  while (i < in.count) {
    if (state.unit_left == 0) {
      // A header may continue into the following bytes (zeros past the source's end).
      const uint64_t at = view.written + i;
      const Unit unit = UnitAt(state, in.data + i, at);
      if (!Fits(unit, at, i > room ? 0 : room - i)) return End(state, i);
      state.unit = unit.kind;
      state.unit_left = unit.length;
      if (unit.kind == Mp3Unit::kFrame) state.stream = unit.stream;
    }
    const uint64_t step = std::min<uint64_t>(state.unit_left, in.count - i);
    i += step;
    state.unit_left -= step;
    if (state.unit_left == 0) UnitDone(state);
    // Nothing follows an ID3v1 tag.
    if (state.unit_left == 0 && state.unit == Mp3Unit::kId3v1) return End(state, i);
  }
  // On a boundary at the sector's end, the next bytes are read now: when they do not go on with
  // the file (the source ends, or another stream starts in the next sector), the file ends here
  // and the next sector is free to start a file.
  if (state.unit_left == 0) {
    const uint64_t at = view.written + in.count;
    const uint64_t left = room > in.count ? room - in.count : 0;
    if (!Fits(UnitAt(state, in.data + in.count, at), at, left)) return End(state, in.count);
  }
  return More(in.count);
}

Kept FinishMp3(const Mp3State& state) {
  if (!state.complete || state.frames < kMinMp3Frames) return Drop();
  Kept kept = KeepChecked(CheckMp3);
  kept.reassemble = ReassembleMp3;
  // Without closing tags, the frames' end may be where a fragment was cut.
  kept.may_go_on = state.unit != Mp3Unit::kId3v1 && !state.ape;
  return kept;
}

Match MatchMp3(const RowInput& r, Start* s) {
  const SectorHeader& h = r.h;
  if (!h.StartsWith(0, "ID3") || h[3] == 0xFF || h[4] == 0xFF) return Match::kNo;
  if (h[6] >= 0x80 || h[7] >= 0x80 || h[8] >= 0x80 || h[9] >= 0x80) return Match::kNo;
  return Opens(s, Mp3State{});
}

Match MatchMp3Frames(const RowInput& r, Start* s) {
  return Mp3FramesStartAt(r.in) ? Opens(s, Mp3State{}) : Match::kNo;
}

}  // namespace kestrel
