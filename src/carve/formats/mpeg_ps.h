#pragma once
// MPEG program streams (MPEG-1 and MPEG-2 systems): a walk over the pack headers, system headers
// and PES packets by their lengths, carried across sectors. The stream ends after its program end
// code (00 00 01 B9), where the next bytes are none of these, at a pack that begins another
// stream (the other system, or a clock reference that goes back), or at the size cap.

#include <cstdint>

#include "carve/format.h"
#include "carve/formats/zip.h"
#include "carve/signature.h"

namespace kestrel {

// The largest program stream carved (4 GiB less a byte, the largest file FAT32 holds; a DVD
// title set splits its video into files of 1 GiB): a longer walk ends the file there.
inline constexpr uint64_t kMaxMpegBytes = (uint64_t{4} << 30) - 1;
// Fewer pack headers than this are taken for a stray start code, not a stream.
inline constexpr uint32_t kMinMpegPacks = 2;

enum class MpegSystem : uint8_t { kUnknown, kMpeg1, kMpeg2 };

struct MpegState {
  uint64_t unit_left = 0;  // bytes left of the current pack header or packet
  uint32_t packs = 0;
  uint32_t packets = 0;                      // PES packets
  MpegSystem system = MpegSystem::kUnknown;  // of the first pack header; a stream keeps it
  uint64_t clock = 0;                        // the last pack's clock reference; it never goes back
  bool complete = false;                     // the walk found the stream's end
  bool end_code = false;                     // at its program end code
};

enum class MpegUnitKind : uint8_t { kNone, kPack, kSystemHeader, kPacket, kEnd };

struct MpegUnit {
  MpegUnitKind kind = MpegUnitKind::kNone;
  uint64_t length = 0;  // the whole unit's, its start code included
  MpegSystem system = MpegSystem::kUnknown;
  uint64_t clock = 0;  // a pack's system clock reference (90 kHz base)
};

// The pack header, system header, PES packet or end code at `p` (14 readable bytes), kNone when
// `p` holds none of them.
MpegUnit MpegUnitAt(const uint8_t* p);

// The pack header form at `p` (12 readable bytes, 14 for MPEG-2), kUnknown when `p` holds none.
MpegSystem PackHeaderAt(const uint8_t* p);

Fed FeedMpeg(MpegState& state, const CarveView& view);
// Kept when the walk found its end (a stream cut off by a header or a cancel is not) after
// enough pack headers and at least one packet, and when its chain shows it whole
// (mpeg_ps_check.h). A stream that ends short of a program end code may go on in other units
// (mpeg_ps_reassembly.h).
Kept FinishMpeg(const MpegState& state);

template <>
struct FormatOps<MpegState> : Ops<FeedMpeg, FinishMpeg> {};

inline constexpr GuardMark kMpgGuard{"MPG"};

// A pack header of either form (MPEG-1 or MPEG-2) with its marker bits, followed by a system
// header, as every stream's first pack is.
Match MatchMpeg(const RowInput& r, Start* s);
inline constexpr SignatureRow kMpegRow{.test = MatchMpeg,
                                       .gate = {0, std::string_view("\0", 1)},
                                       .guarded_by = {&kMpgGuard, &kZipGuard},
                                       .selection = Bits({kMpg}),
                                       .extension = "MPG",
                                       .guards = {&kMpgGuard}};

}  // namespace kestrel
