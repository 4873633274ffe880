#pragma once
// The sample tables of a QuickTime or ISO base media movie's tracks, read from its movie box
// (moov) in memory: where each chunk lies (stco, co64), how many samples each chunk holds
// (stsc), how long each sample is (stsz, stz2), and what the samples hold (the sample entry of
// stsd, with the NAL unit length size of avcC and hvcC, and whether an mp4a entry's elementary
// stream descriptor names AAC). The tables are views into the moov
// bytes; every table is checked to fit its box before it is used.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kestrel {

struct MovBoxHeader {
  uint64_t size = 0;  // its header included
  uint32_t header_bytes = 8;
};

inline bool IsMovBoxType(const uint8_t* type, const char (&name)[5]) {
  return type[0] == uint8_t(name[0]) && type[1] == uint8_t(name[1]) &&
         type[2] == uint8_t(name[2]) && type[3] == uint8_t(name[3]);
}

// Every box type is four printable characters: anything else is foreign bytes.
inline bool IsPrintableMovBoxType(const uint8_t* type) {
  for (int k = 0; k < 4; ++k) {
    if (type[k] < 0x20 || type[k] > 0x7E) return false;
  }
  return true;
}

// The box whose header starts `bytes` (up to 16 of them), with `room` bytes from its start to
// the end of its parent: a size of 0 runs to that end. None when it does not fit.
std::optional<MovBoxHeader> ReadMovBoxHeader(std::span<const uint8_t> bytes, uint64_t room);

// What a track's samples are, as far as their first bytes show it.
enum class MovSamples : uint8_t {
  kOpaque,      // not looked into (audio, other codecs)
  kNalUnits,    // H.264 or H.265: length-prefixed NAL units
  kMpeg4Video,  // MPEG-4 visual: each sample starts with a start code 00 00 01
  kH263,        // H.263: each sample starts with a picture start code
  kJpeg,        // Motion JPEG: each sample starts with FF D8
};

// Whether `first` can be the first byte of an AAC frame (a raw data block): a single channel,
// channel pair or low-frequency element of instance tag 0, or a data stream or fill element.
bool StartsAacFrame(uint8_t first);

// Whether the kAacFrameHead bytes at `p` start an AAC frame of a stream of `channels` channels
// the way AAC encoders start every frame: with that one channel element (mono: a single channel
// element; stereo: a channel pair) of instance tag 0 whose window's reserved bit is clear.
// False for any other channel count (0: not known). Far stricter than StartsAacFrame (about 1
// in 256 random positions pass), but a frame that opens with a data stream or fill element
// does not pass.
inline constexpr size_t kAacFrameHead = 3;
bool StartsAacFrameOf(const uint8_t* p, uint8_t channels);

struct MovTrack {
  MovSamples samples = MovSamples::kOpaque;
  bool hevc = false;
  uint8_t nal_length_size = 4;
  // The samples are AAC frames (an mp4a entry whose decoder configuration names AAC).
  bool aac = false;
  // Its channel configuration, from the decoder specific information (0: not given).
  uint8_t aac_channels = 0;
  // The media data lies in another file (a data reference that is not self-contained).
  bool external_data = false;

  uint32_t chunk_count = 0;
  std::span<const uint8_t> chunk_offsets;  // 4 or 8 bytes each
  bool wide_offsets = false;
  uint32_t run_count = 0;
  std::span<const uint8_t> chunk_runs;  // 12 bytes each: first chunk, samples per chunk, entry
  uint32_t sample_count = 0;
  uint32_t constant_size = 0;  // every sample's size; 0: per sample in `sizes`
  std::span<const uint8_t> sizes;
  uint8_t size_bits = 32;  // 4, 8, 16 or 32

  uint64_t ChunkOffset(uint32_t chunk) const;
  // First chunk (1-based) and samples per chunk of run `run`.
  uint32_t RunFirstChunk(uint32_t run) const;
  uint32_t RunSamples(uint32_t run) const;
  uint32_t SampleSize(uint32_t sample) const;
  // The bytes of `count` samples from `sample` on.
  uint64_t SamplesBytes(uint64_t sample, uint64_t count) const;
};

// How a walk over a track's chunks ended.
enum class MovChunks : uint8_t {
  kAll,       // every chunk was visited and they hold every sample
  kStopped,   // the visitor stopped the walk
  kDisagree,  // the tables disagree (runs out of order, or samples the chunks do not hold)
};

// Calls `visit(offset, first_sample, samples)` (true to go on) for each chunk of `track` in table
// order: its file offset, its first sample's number and how many samples it holds.
template <typename Visit>
MovChunks ForEachChunk(const MovTrack& track, Visit&& visit) {
  uint64_t sample = 0;
  for (uint32_t run = 0; run < track.run_count; ++run) {
    const uint64_t first = track.RunFirstChunk(run);
    const uint64_t next =
        run + 1 < track.run_count ? track.RunFirstChunk(run + 1) : uint64_t{track.chunk_count} + 1;
    if (first == 0 || next <= first) return MovChunks::kDisagree;
    const uint64_t per_chunk = track.RunSamples(run);
    for (uint64_t chunk = first; chunk < next && chunk <= track.chunk_count; ++chunk) {
      if (per_chunk > track.sample_count - sample) return MovChunks::kDisagree;
      if (!visit(track.ChunkOffset(static_cast<uint32_t>(chunk - 1)), sample, per_chunk)) {
        return MovChunks::kStopped;
      }
      sample += per_chunk;
    }
  }
  return sample == track.sample_count ? MovChunks::kAll : MovChunks::kDisagree;
}

enum class MoovRead : uint8_t {
  kRead,       // the tracks are read
  kBroken,     // a box inside does not fit its parent, or a table does not fit its box
  kUnchecked,  // no movie header, a compressed movie box, or a fragmented movie
};

// Reads the tracks of the movie box whose body (after its header) is `moov`.
MoovRead ReadMovieTracks(std::span<const uint8_t> moov, std::vector<MovTrack>* tracks);

}  // namespace kestrel
