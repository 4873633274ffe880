#include "carve/formats/mov_check.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "carve/formats/check_window.h"
#include "carve/formats/mov_nal_chain.h"
#include "carve/formats/mov_tracks.h"

namespace kestrel {
namespace {

constexpr uint64_t kMaxTopLevelBoxes = 100'000;
constexpr uint64_t kMaxMoovBytes = uint64_t{64} << 20;
constexpr uint64_t kMaxSamplesLookedInto = 2'000'000;
constexpr uint64_t kMaxNalUnits = 16'000'000;

enum class Verdict : uint8_t { kOn, kBroken, kUnchecked };

// Bytes [first, end) of the carved file.
struct Range {
  uint64_t first = 0;
  uint64_t end = 0;
};

// How far a track's samples have been looked into.
struct TrackProgress {
  bool first_sample_seen = false;
  bool look_into = true;  // false once the samples turn out to be of a kind not followed
};

class MovCheck {
 public:
  MovCheck(ByteSource& source, uint64_t start, uint64_t length)
      : source_(source), start_(start), window_(source, start, length) {}

  Whole Run() {
    Verdict verdict = WalkTopLevel();
    if (verdict == Verdict::kOn) verdict = CheckTracks();
    if (window_.failed()) return Whole::kUnchecked;
    if (verdict == Verdict::kBroken) return Whole::kNo;
    return verdict == Verdict::kUnchecked ? Whole::kUnchecked : Whole::kYes;
  }

 private:
  uint64_t length() const { return window_.length(); }

  // The top-level boxes must tile the file; the media data boxes and the movie box are noted.
  Verdict WalkTopLevel() {
    uint64_t boxes = 0;
    bool image = false;
    for (uint64_t at = 0; at < length();) {
      if (++boxes > kMaxTopLevelBoxes) return Verdict::kUnchecked;
      const std::span<const uint8_t> header = window_.At(at, 16);
      const std::optional<MovBoxHeader> box = ReadMovBoxHeader(header, length() - at);
      if (!box) return Verdict::kBroken;
      const uint64_t size = box->size;
      if (!IsPrintableMovBoxType(header.data() + 4)) return Verdict::kBroken;
      const Range body{at + box->header_bytes, at + size};
      if (std::memcmp(header.data() + 4, "mdat", 4) == 0) media_data_.push_back(body);
      if (std::memcmp(header.data() + 4, "moof", 4) == 0) return Verdict::kUnchecked;
      if (std::memcmp(header.data() + 4, "moov", 4) == 0 && moov_.end == 0) moov_ = body;
      if (std::memcmp(header.data() + 4, "meta", 4) == 0) image = true;
      at += size;
    }
    if (moov_.end != 0) return Verdict::kOn;
    // A HEIF image describes its data in a meta box; without either, nothing describes it.
    return image ? Verdict::kUnchecked : Verdict::kBroken;
  }

  Verdict CheckTracks() {
    const uint64_t moov_bytes = moov_.end - moov_.first;
    if (moov_bytes > kMaxMoovBytes) return Verdict::kUnchecked;
    std::vector<uint8_t> moov(static_cast<size_t>(moov_bytes));
    if (!source_.ReadExact(start_ + moov_.first, moov.data(), moov.size())) {
      return Verdict::kUnchecked;
    }
    std::vector<MovTrack> tracks;
    const MoovRead read = ReadMovieTracks(moov, &tracks);
    if (read != MoovRead::kRead) {
      return read == MoovRead::kBroken ? Verdict::kBroken : Verdict::kUnchecked;
    }
    Verdict verdict = Verdict::kOn;
    for (const MovTrack& track : tracks) {
      const Verdict checked = CheckTrack(track);
      if (checked == Verdict::kBroken) return checked;
      if (checked == Verdict::kUnchecked) verdict = checked;
    }
    return verdict;
  }

  // Every chunk inside the media data, and the samples of the kinds followed sound.
  Verdict CheckTrack(const MovTrack& track) {
    if (track.external_data) return Verdict::kUnchecked;
    TrackProgress progress;
    const MovChunks walk =
        ForEachChunk(track, [&](uint64_t offset, uint64_t sample, uint64_t count) {
          return InMediaData(offset, track.SamplesBytes(sample, count)) &&
                 SamplesSound(track, progress, offset, sample, count);
        });
    if (walk == MovChunks::kStopped) return Verdict::kBroken;
    // Samples the chunks do not hold: the tables disagree (or the chunk table is missing).
    return walk == MovChunks::kAll ? Verdict::kOn : Verdict::kUnchecked;
  }

  bool InMediaData(uint64_t offset, uint64_t bytes) const {
    auto after = std::upper_bound(media_data_.begin(), media_data_.end(), offset,
                                  [](uint64_t at, const Range& range) { return at < range.first; });
    if (after == media_data_.begin()) return false;
    const Range& range = *(after - 1);
    return offset <= range.end && bytes <= range.end - offset;
  }

  // The `count` samples from `sample` on, which lie one after another from `offset`.
  bool SamplesSound(const MovTrack& track, TrackProgress& progress, uint64_t offset,
                    uint64_t sample, uint64_t count) {
    const bool opaque = track.samples == MovSamples::kOpaque && !track.aac;
    if (opaque || !progress.look_into) return true;
    for (uint64_t k = 0; k < count && looked_into_ < kMaxSamplesLookedInto; ++k) {
      const uint32_t size = track.SampleSize(static_cast<uint32_t>(sample + k));
      ++looked_into_;
      if (!SampleSound(track, offset, size)) {
        // Annex B start codes instead of lengths: written so by some devices, not followed.
        if (!progress.first_sample_seen && StartsWithStartCode(offset)) {
          progress.look_into = false;
          return true;
        }
        return false;
      }
      progress.first_sample_seen = true;
      offset += size;
    }
    return true;
  }

  bool StartsWithStartCode(uint64_t offset) {
    const std::span<const uint8_t> bytes = window_.At(offset, 4);
    if (bytes.size() < 4 || bytes[0] != 0 || bytes[1] != 0) return false;
    return bytes[2] == 1 || (bytes[2] == 0 && bytes[3] == 1);
  }

  bool SampleSound(const MovTrack& track, uint64_t offset, uint32_t size) {
    if (track.samples == MovSamples::kNalUnits) {
      return ReadNalChain(window_, offset, size, track.nal_length_size, track.hevc,
                          &nal_units_left_)
          .fits;
    }
    if (track.aac) {
      const std::span<const uint8_t> first = window_.At(offset, 1);
      return size == 0 || first.empty() || StartsAacFrame(first[0]);
    }
    const std::span<const uint8_t> head = window_.At(offset, 4);
    if (head.size() < 4 || size < 4) return true;  // too short to tell
    switch (track.samples) {
      case MovSamples::kMpeg4Video:
        return head[0] == 0 && head[1] == 0 && head[2] == 1;
      case MovSamples::kH263:
        return head[0] == 0 && head[1] == 0 && (head[2] & 0xFC) == 0x80;
      case MovSamples::kJpeg:
        return head[0] == 0xFF && head[1] == 0xD8;
      default:
        return true;
    }
  }

  ByteSource& source_;
  uint64_t start_;
  CheckWindow window_;
  std::vector<Range> media_data_;  // the bodies of the mdat boxes, in file order
  Range moov_;                     // the body of the first moov box
  uint64_t looked_into_ = 0;
  uint64_t nal_units_left_ = kMaxNalUnits;
};

}  // namespace

Whole CheckMov(ByteSource& source, uint64_t start, uint64_t length) {
  return MovCheck(source, start, length).Run();
}

}  // namespace kestrel
