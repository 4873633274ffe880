#include "carve/formats/mpeg_ps_reassembly.h"

#include <algorithm>
#include <optional>

#include "carve/formats/mpeg_ps.h"

namespace kestrel {
namespace {

constexpr uint64_t kSearchBytes = uint64_t{64} << 20;
constexpr size_t kMaxPieces = 16;
constexpr uint64_t kMinClockStep = 9000;  // 0.1 s of the 90 kHz clock
// The tail searched for the stream's last two pack headers.
constexpr size_t kTailBytes = 256 * 1024;
constexpr size_t kUnitHeaderBytes = 14 + 7;  // an MPEG-2 pack header with its longest stuffing

// Where a stream's chain stands: the last pack's clock and the step to it from the pack before.
struct ChainEnd {
  MpegSystem system = MpegSystem::kUnknown;
  uint64_t clock = 0;
  uint64_t step = 0;
  uint64_t end = 0;       // source offset after the chain's last unit
  bool end_code = false;  // the chain closed with the program end code
};

std::optional<MpegUnit> UnitAt(ByteSource& source, uint64_t at) {
  uint8_t bytes[kUnitHeaderBytes] = {};
  if (source.ReadAt(at, bytes, sizeof bytes) < 4) return std::nullopt;
  const MpegUnit unit = MpegUnitAt(bytes);
  if (unit.kind == MpegUnitKind::kNone) return std::nullopt;
  return unit;
}

// The last two pack headers in the carved bytes [start, end).
std::optional<ChainEnd> LastPacks(ByteSource& source, uint64_t start, uint64_t end) {
  const uint64_t from = end - std::min<uint64_t>(end - start, kTailBytes);
  std::vector<uint8_t> tail(static_cast<size_t>(end - from) + kUnitHeaderBytes, 0);
  if (!source.ReadExact(from, tail.data(), static_cast<size_t>(end - from))) return std::nullopt;
  ChainEnd chain;
  int found = 0;
  for (size_t i = static_cast<size_t>(end - from); i-- > 0 && found < 2;) {
    if (PackHeaderAt(&tail[i]) == MpegSystem::kUnknown) continue;
    const MpegUnit pack = MpegUnitAt(&tail[i]);
    if (found == 0) {
      chain.system = pack.system;
      chain.clock = pack.clock;
    } else if (pack.system == chain.system && pack.clock <= chain.clock) {
      chain.step = chain.clock - pack.clock;
    } else {
      return std::nullopt;
    }
    ++found;
  }
  if (found < 2) return std::nullopt;
  chain.end = end;
  return chain;
}

// The chain from the pack at `at` walked to its break, the end code or `limit`.
ChainEnd WalkFrom(ByteSource& source, uint64_t at, const ChainEnd& before, uint64_t limit) {
  ChainEnd chain = before;
  while (at < limit) {
    const std::optional<MpegUnit> unit = UnitAt(source, at);
    if (!unit || unit->length > limit - at) break;
    if (unit->kind == MpegUnitKind::kPack) {
      if (unit->system != chain.system || unit->clock < chain.clock) break;
      chain.step = unit->clock - chain.clock;
      chain.clock = unit->clock;
    }
    at += unit->length;
    if (unit->kind == MpegUnitKind::kEnd) {
      chain.end_code = true;
      break;
    }
  }
  chain.end = at;
  return chain;
}

bool InsidePieces(const std::vector<FilePiece>& pieces, uint64_t at) {
  return std::any_of(pieces.begin(), pieces.end(), [at](const FilePiece& piece) {
    return at >= piece.source_offset && at - piece.source_offset < piece.length;
  });
}

// Where the stream goes on after `chain`: the first unit in the search after the chain's end
// that is no piece of it yet.
std::optional<uint64_t> FindContinuation(ByteSource& source, const ChainEnd& chain,
                                         const ByteUnits& units,
                                         const std::vector<FilePiece>& pieces) {
  const uint64_t latest = chain.clock + std::max(kMinClockStep, 4 * chain.step);
  const auto goes_on = [&](uint64_t at) {
    if (InsidePieces(pieces, at)) return false;
    const std::optional<MpegUnit> unit = UnitAt(source, at);
    return unit && unit->kind == MpegUnitKind::kPack && unit->system == chain.system &&
           unit->clock >= chain.clock && unit->clock <= latest;
  };
  const uint64_t last = std::min(source.Size(), chain.end + kSearchBytes);
  for (uint64_t at = units.BoundaryFrom(chain.end + 1); at < last; at += units.bytes) {
    if (goes_on(at)) return at;
  }
  return std::nullopt;
}

}  // namespace

bool ReassembleMpeg(ByteSource& source, uint64_t start, uint64_t length, const ByteUnits& units,
                    std::vector<FilePiece>* pieces) {
  const uint64_t end = start + length;
  if (units.bytes == 0 || length == 0 || !units.IsBoundary(end)) return false;
  std::optional<ChainEnd> chain = LastPacks(source, start, end);
  if (!chain) return false;
  std::vector<FilePiece> found{{start, length}};
  uint64_t total = length;
  while (found.size() < kMaxPieces && !chain->end_code && units.IsBoundary(chain->end)) {
    const std::optional<uint64_t> next = FindContinuation(source, *chain, units, found);
    if (!next) break;
    const uint64_t room = kMaxMpegBytes - std::min(kMaxMpegBytes, total);
    const ChainEnd walked =
        WalkFrom(source, *next, *chain, *next + std::min(room, source.Size() - *next));
    if (walked.end == *next) break;
    found.push_back({*next, walked.end - *next});
    total += walked.end - *next;
    chain = walked;
  }
  if (found.size() < 2) return false;
  *pieces = std::move(found);
  return true;
}

}  // namespace kestrel
