#include "carve/formats/mov_movie_box.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "carve/formats/mov_tracks.h"
#include "carve/unit_candidates.h"
#include "carve/unit_phase_search.h"
#include "platform/byte_order.h"

namespace kestrel {
namespace {

constexpr uint64_t kReachUnits = 256;
constexpr uint64_t kMaxMovieBoxBytes = uint64_t{16} << 20;
constexpr uint64_t kMaxBytesRead = uint64_t{64} << 20;
constexpr uint64_t kMaxTrials = 4096;
constexpr uint64_t kMaxSplitUnits = 16;
constexpr size_t kMaxHits = 64;
constexpr size_t kMaxChunks = 2'000'000;

// The first box header of the movie box `bytes` (its own header included) that starts at or after
// `known` once the boxes before it are walked in the first `known` bytes, descending into the
// containers of the sample tables; none when a header crosses `known` or the walk breaks.
std::optional<uint64_t> BoxHeaderFrom(std::span<const uint8_t> bytes, uint64_t known) {
  static constexpr const char* kContainers[] = {"moov", "trak", "mdia", "minf",
                                                "stbl", "edts", "dinf", "udta"};
  uint64_t at = 8;
  uint64_t end = bytes.size();
  while (at < known) {
    if (at + 8 > known) return std::nullopt;
    const std::optional<MovBoxHeader> box = ReadMovBoxHeader(bytes.subspan(at, 8), end - at);
    if (!box || box->header_bytes != 8) return std::nullopt;
    const bool container = std::any_of(
        std::begin(kContainers), std::end(kContainers),
        [&](const char* type) { return std::memcmp(bytes.data() + at + 4, type, 4) == 0; });
    if (container && at + box->size > known) {
      end = at + box->size;
      at += 8;
    } else {
      at += box->size;
    }
  }
  if (at >= bytes.size()) return std::nullopt;
  return at;
}

}  // namespace

bool MovieBoxSearch::Assemble(uint64_t at, uint64_t file_start, MovieBox* box) {
  uint8_t h[8];
  if (!source_.ReadExact(at, h, sizeof h)) return false;
  const uint64_t size = LoadBe32(h);
  if (size < 16 || size > kMaxMovieBoxBytes || size > source_.Size() - at) return false;
  std::vector<uint8_t> whole(static_cast<size_t>(size));
  if (!ReadBytes(at, whole.data(), size)) return false;
  if (Fits(whole)) {
    *box = {{{at, size}}, std::move(whole)};
    return true;
  }
  const uint64_t first_cut = units_.BoundaryFrom(at + 1);
  if (first_cut >= at + size || (at + size - first_cut) / units_.bytes >= kMaxSplitUnits) {
    return false;
  }
  bool found = false;
  for (uint64_t cut = first_cut; cut < at + size; cut += units_.bytes) {
    const uint64_t known = cut - at;
    const std::optional<uint64_t> next_header = BoxHeaderFrom(whole, known);
    const std::vector<FilePiece> taken{{file_start, cut - file_start}};
    UnitCandidates candidates(units_, cut, kReachUnits, source_.Size(), taken);
    std::vector<uint8_t> trial(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(known));
    for (uint64_t next = 0; candidates.Next(&next);) {
      if (++trials_ > kMaxTrials) return false;
      // The first box header after the cut must be where the continuation puts it.
      if (next_header && !BoxHeaderAt(next + (*next_header - known), size - *next_header)) {
        continue;
      }
      trial.resize(static_cast<size_t>(size));
      if (!ReadBytes(next, trial.data() + known, size - known)) {
        if (bytes_read_ > kMaxBytesRead) return false;
        continue;
      }
      if (!Fits(trial)) continue;
      if (found && trial != box->bytes) return false;  // two continuations fit alike
      if (!found) *box = {{{at, known}, {next, size - known}}, trial};
      found = true;
    }
  }
  return found;
}

bool MovieBoxSearch::FindAtPlace(uint64_t start, uint64_t in_place, MovieBox* box) {
  const uint64_t phase = in_place - (units_.BoundaryFrom(in_place + 1) - units_.bytes);
  const uint64_t reach = kReachUnits * units_.bytes;
  // The two stretches, as one when they meet.
  const uint64_t first_low = units_.BoundaryFrom(start > reach ? start - reach : 0);
  const uint64_t second_low = units_.BoundaryFrom(in_place > reach ? in_place - reach : 0);
  const uint64_t first_high = std::min(source_.Size(), start + reach);
  const uint64_t high = std::min(source_.Size(), in_place + reach);
  std::vector<uint64_t> hits =
      HeadersAtPhase(phase, first_low, second_low <= first_high ? high : first_high);
  if (second_low > first_high) {
    const std::vector<uint64_t> more = HeadersAtPhase(phase, second_low, high);
    hits.insert(hits.end(), more.begin(), more.end());
  }
  bool found = false;
  for (const uint64_t hit : hits) {
    MovieBox candidate;
    if (!Assemble(hit, hit, &candidate)) continue;
    if (found && candidate.bytes != box->bytes) return false;  // two movie boxes fit alike
    if (!found) *box = std::move(candidate);
    found = true;
  }
  return found;
}

// The source offsets at `phase` into each unit from the boundary `low` up to `high` that start a
// movie box whose first child is the movie header; read a block at a time.
std::vector<uint64_t> MovieBoxSearch::HeadersAtPhase(uint64_t phase, uint64_t low, uint64_t high) {
  constexpr uint64_t kHead = 16;
  return FindAtPhase(source_, units_, phase, low, high, kHead, kMaxHits, [](const uint8_t* h) {
    // The movie header is 108 bytes long (version 0) or 120 (version 1).
    const uint32_t header = LoadBe32(h + 8);
    return IsMovBoxType(h + 4, "moov") && IsMovBoxType(h + 12, "mvhd") && LoadBe32(h) >= kHead &&
           (header == 108 || header == 120);
  });
}

bool MovieBoxSearch::ReadBytes(uint64_t at, uint8_t* bytes, uint64_t count) {
  bytes_read_ += count;
  return bytes_read_ <= kMaxBytesRead && source_.ReadExact(at, bytes, static_cast<size_t>(count));
}

// Whether the source holds a box header at `at` that fits in `room` bytes.
bool MovieBoxSearch::BoxHeaderAt(uint64_t at, uint64_t room) {
  uint8_t h[8];
  if (!source_.ReadExact(at, h, sizeof h) || !IsPrintableMovBoxType(h + 4)) return false;
  const uint64_t size = LoadBe32(h);
  return size == 1 || (size >= 8 && size <= room);
}

// Whether the movie box `bytes` reads and its tracks' chunks lie in the media data (after the
// movie box, when it comes first) without overlapping.
bool MovieBoxSearch::Fits(const std::vector<uint8_t>& bytes) const {
  std::vector<MovTrack> tracks;
  if (ReadMovieTracks(std::span<const uint8_t>(bytes).subspan(8), &tracks) != MoovRead::kRead ||
      tracks.empty()) {
    return false;
  }
  const MovSpan data = media_.value_or(MovSpan{box_at_ + bytes.size(), ~uint64_t{0}});
  std::vector<MovSpan> chunks;
  for (const MovTrack& track : tracks) {
    if (track.external_data) return false;
    const MovChunks walk =
        ForEachChunk(track, [&](uint64_t offset, uint64_t sample, uint64_t count) {
          if (chunks.size() >= kMaxChunks) return false;
          const uint64_t chunk_bytes = track.SamplesBytes(sample, count);
          if (offset < data.first || offset > data.end || chunk_bytes > data.end - offset) {
            return false;
          }
          chunks.push_back({offset, offset + chunk_bytes});
          return true;
        });
    if (walk != MovChunks::kAll) return false;
  }
  std::sort(chunks.begin(), chunks.end(),
            [](const MovSpan& a, const MovSpan& b) { return a.first < b.first; });
  for (size_t i = 1; i < chunks.size(); ++i) {
    if (chunks[i].first < chunks[i - 1].end) return false;
  }
  return true;
}

}  // namespace kestrel
