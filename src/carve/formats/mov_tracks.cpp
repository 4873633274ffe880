#include "carve/formats/mov_tracks.h"

#include <algorithm>

#include "platform/byte_order.h"

namespace kestrel {
namespace {

constexpr uint32_t Fourcc(const char (&type)[5]) {
  return uint32_t(uint8_t(type[0])) << 24 | uint32_t(uint8_t(type[1])) << 16 |
         uint32_t(uint8_t(type[2])) << 8 | uint32_t(uint8_t(type[3]));
}

// Bytes of a visual sample entry's body before its child boxes.
constexpr size_t kVisualEntryFields = 78;
// A full box's version and flags, then an entry count.
constexpr size_t kCountedHead = 8;

struct Box {
  uint32_t type = 0;
  std::span<const uint8_t> body;
};

enum class Next : uint8_t { kBox, kEnd, kBad };

// The child boxes of a container's body, one by one. Fewer than 8 bytes left end the walk
// (QuickTime ends some lists with a 4-byte zero).
class Children {
 public:
  explicit Children(std::span<const uint8_t> body) : rest_(body) {}

  Next Take(Box* box) {
    if (rest_.size() < 8) return Next::kEnd;
    const std::optional<MovBoxHeader> header =
        ReadMovBoxHeader(rest_.first(std::min<size_t>(rest_.size(), 16)), rest_.size());
    if (!header) return Next::kBad;
    const size_t size = static_cast<size_t>(header->size);
    box->type = LoadBe32(rest_.data() + 4);
    box->body = rest_.subspan(header->header_bytes, size - header->header_bytes);
    rest_ = rest_.subspan(size);
    return Next::kBox;
  }

 private:
  std::span<const uint8_t> rest_;
};

// The first child of `type` in `body`; an empty box type 0 when there is none. False when the
// children do not fit.
bool FindChild(std::span<const uint8_t> body, uint32_t type, Box* found) {
  Children children(body);
  Box box;
  *found = Box{};
  for (Next next; (next = children.Take(&box)) != Next::kEnd;) {
    if (next == Next::kBad) return false;
    if (box.type == type && found->type == 0) *found = box;
  }
  return true;
}

// The entries of a counted table of `entry_bytes` each; false when they do not fit the box.
bool CountedTable(const Box& box, size_t entry_bytes, uint32_t* count,
                  std::span<const uint8_t>* entries) {
  if (box.body.size() < kCountedHead) return false;
  *count = LoadBe32(box.body.data() + 4);
  const std::span<const uint8_t> rest = box.body.subspan(kCountedHead);
  if (uint64_t{*count} * entry_bytes > rest.size()) return false;
  *entries = rest.first(size_t{*count} * entry_bytes);
  return true;
}

// The sample sizes of stsz (constant, or 32 bits each) or stz2 (4, 8 or 16 bits each).
bool ReadSizes(const Box& box, MovTrack* track) {
  const std::span<const uint8_t> body = box.body;
  if (body.size() < 12) return false;
  track->sample_count = LoadBe32(body.data() + 8);
  uint64_t bits = 32;
  if (box.type == Fourcc("stsz")) {
    track->constant_size = LoadBe32(body.data() + 4);
    if (track->constant_size != 0) return true;
  } else {
    bits = body[7];
    if (bits != 4 && bits != 8 && bits != 16) return false;
  }
  track->size_bits = static_cast<uint8_t>(bits);
  const uint64_t bytes = (uint64_t{track->sample_count} * bits + 7) / 8;
  if (bytes > body.size() - 12) return false;
  track->sizes = body.subspan(12, static_cast<size_t>(bytes));
  return true;
}

// The NAL unit length size of an avcC or hvcC box in a visual sample entry.
void ReadNalLengthSize(std::span<const uint8_t> entry, MovTrack* track) {
  if (entry.size() < kVisualEntryFields) return;
  Box config;
  const uint32_t type = track->hevc ? Fourcc("hvcC") : Fourcc("avcC");
  const size_t at = track->hevc ? 21 : 4;
  if (!FindChild(entry.subspan(kVisualEntryFields), type, &config) || config.type == 0 ||
      config.body.size() <= at || (config.body[at] & 3) == 2) {
    return;  // length size 3 is not allowed
  }
  track->nal_length_size = static_cast<uint8_t>((config.body[at] & 3) + 1);
  track->samples = MovSamples::kNalUnits;
}

// A descriptor's length in the elementary stream descriptor: up to four bytes of seven bits each.
bool SkipDescriptorLength(std::span<const uint8_t>* rest) {
  for (int k = 0; k < 4 && !rest->empty(); ++k) {
    const uint8_t byte = rest->front();
    *rest = rest->subspan(1);
    if ((byte & 0x80) == 0) return true;
  }
  return false;
}

// The channel configuration of an AudioSpecificConfig (0 when it gives none): after the object
// type (5 bits, or 11 when they read 31) and the sampling frequency index (4 bits, or 28 when
// they read 15).
uint8_t AacChannels(std::span<const uint8_t> config) {
  uint64_t bits = 0;
  const size_t held = std::min<size_t>(config.size(), 8);
  for (size_t k = 0; k < 8; ++k) bits = bits << 8 | (k < held ? config[k] : 0);
  uint32_t at = 5;
  if ((bits >> 59) == 31) at += 6;
  const uint32_t rate = static_cast<uint32_t>(bits >> (60 - at)) & 0xF;
  at += rate == 15 ? 28 : 4;
  if (at + 4 > held * 8) return 0;
  return static_cast<uint8_t>(bits >> (60 - at) & 0xF);
}

// Whether the esds body names AAC (the ES descriptor's decoder configuration's object type is
// MPEG-4 audio or an MPEG-2 AAC profile), and its channel configuration when its decoder
// specific information gives one.
struct AacStream {
  bool aac = false;
  uint8_t channels = 0;
};
AacStream DescribesAac(std::span<const uint8_t> esds) {
  if (esds.size() < 4) return {};
  std::span<const uint8_t> rest = esds.subspan(4);  // version and flags
  if (rest.empty() || rest.front() != 0x03) return {};
  rest = rest.subspan(1);
  if (!SkipDescriptorLength(&rest) || rest.size() < 3) return {};
  // The stream's id and flags, then the fields the flags call for: a stream it depends on, a URL
  // and an object clock reference stream.
  const uint8_t flags = rest[2];
  size_t skip = 3 + ((flags & 0x80) != 0 ? 2 : 0);
  if ((flags & 0x40) != 0) skip += rest.size() > skip ? 1 + size_t{rest[skip]} : rest.size();
  skip += (flags & 0x20) != 0 ? 2 : 0;
  if (rest.size() <= skip || rest[skip] != 0x04) return {};
  rest = rest.subspan(skip + 1);
  if (!SkipDescriptorLength(&rest) || rest.empty()) return {};
  const uint8_t object_type = rest.front();
  if (object_type != 0x40 && (object_type < 0x66 || object_type > 0x68)) return {};
  // The object type, stream type, buffer size and bit rates, then the decoder specific
  // information.
  constexpr size_t kDecoderConfigFields = 13;
  if (object_type != 0x40 || rest.size() <= kDecoderConfigFields ||
      rest[kDecoderConfigFields] != 0x05) {
    return {true, 0};
  }
  rest = rest.subspan(kDecoderConfigFields + 1);
  if (!SkipDescriptorLength(&rest)) return {true, 0};
  return {true, AacChannels(rest)};
}

// The AAC stream an mp4a entry holds, if any: its esds follows the sound fields (longer in
// QuickTime's versions 1 and 2), or lies inside its wave box.
AacStream AacEntry(std::span<const uint8_t> entry) {
  if (entry.size() < 28) return {};
  const uint16_t version = LoadBe16(entry.data() + 8);
  const size_t fields = version == 1 ? 44 : version == 2 ? 64 : 28;
  if (entry.size() < fields) return {};
  Box esds, wave;
  if (!FindChild(entry.subspan(fields), Fourcc("esds"), &esds)) return {};
  if (esds.type == 0) {
    if (!FindChild(entry.subspan(fields), Fourcc("wave"), &wave) || wave.type == 0) return {};
    if (!FindChild(wave.body, Fourcc("esds"), &esds) || esds.type == 0) return {};
  }
  return DescribesAac(esds.body);
}

// The kind of samples the only sample entry of stsd describes (several: not looked into).
bool ReadSampleEntry(const Box& stsd, MovTrack* track) {
  uint32_t count = 0;
  std::span<const uint8_t> entries;
  if (!CountedTable(stsd, 0, &count, &entries)) return false;
  if (count != 1) return true;
  Children children(stsd.body.subspan(kCountedHead));
  Box entry;
  const Next next = children.Take(&entry);
  if (next != Next::kBox) return next == Next::kEnd;
  switch (entry.type) {
    case Fourcc("avc1"):
    case Fourcc("avc3"):
      ReadNalLengthSize(entry.body, track);
      break;
    case Fourcc("hvc1"):
    case Fourcc("hev1"):
      track->hevc = true;
      ReadNalLengthSize(entry.body, track);
      break;
    case Fourcc("mp4v"):
      track->samples = MovSamples::kMpeg4Video;
      break;
    case Fourcc("s263"):
    case Fourcc("h263"):
      track->samples = MovSamples::kH263;
      break;
    case Fourcc("jpeg"):
    case Fourcc("mjpa"):
      track->samples = MovSamples::kJpeg;
      break;
    case Fourcc("mp4a"): {
      const AacStream stream = AacEntry(entry.body);
      track->aac = stream.aac;
      track->aac_channels = stream.channels;
      break;
    }
    default:
      break;
  }
  return true;
}

// Whether every data reference is in this file (flag 1 of each entry).
bool ReadDataReferences(std::span<const uint8_t> minf, MovTrack* track) {
  Box dinf, dref;
  if (!FindChild(minf, Fourcc("dinf"), &dinf)) return false;
  if (dinf.type == 0) return true;
  if (!FindChild(dinf.body, Fourcc("dref"), &dref)) return false;
  if (dref.type == 0 || dref.body.size() < kCountedHead) return true;
  Children children(dref.body.subspan(kCountedHead));
  Box entry;
  for (Next next; (next = children.Take(&entry)) != Next::kEnd;) {
    if (next == Next::kBad) return false;
    if (entry.body.size() < 4 || (entry.body[3] & 1) == 0) track->external_data = true;
  }
  return true;
}

bool ReadSampleTable(std::span<const uint8_t> stbl, MovTrack* track) {
  Children children(stbl);
  Box box;
  for (Next next; (next = children.Take(&box)) != Next::kEnd;) {
    if (next == Next::kBad) return false;
    bool fits = true;
    switch (box.type) {
      case Fourcc("stsd"):
        fits = ReadSampleEntry(box, track);
        break;
      case Fourcc("stco"):
      case Fourcc("co64"):
        track->wide_offsets = box.type == Fourcc("co64");
        fits = CountedTable(box, track->wide_offsets ? 8 : 4, &track->chunk_count,
                            &track->chunk_offsets);
        break;
      case Fourcc("stsc"):
        fits = CountedTable(box, 12, &track->run_count, &track->chunk_runs);
        break;
      case Fourcc("stsz"):
      case Fourcc("stz2"):
        fits = ReadSizes(box, track);
        break;
      default:
        break;
    }
    if (!fits) return false;
  }
  return true;
}

bool ReadTrack(std::span<const uint8_t> trak, MovTrack* track) {
  Box mdia, minf, stbl;
  if (!FindChild(trak, Fourcc("mdia"), &mdia)) return false;
  if (!FindChild(mdia.body, Fourcc("minf"), &minf)) return false;
  if (!FindChild(minf.body, Fourcc("stbl"), &stbl)) return false;
  return ReadDataReferences(minf.body, track) && ReadSampleTable(stbl.body, track);
}

}  // namespace

std::optional<MovBoxHeader> ReadMovBoxHeader(std::span<const uint8_t> bytes, uint64_t room) {
  if (bytes.size() < 8) return std::nullopt;
  MovBoxHeader header{LoadBe32(bytes.data()), 8};
  if (header.size == 1) {
    if (bytes.size() < 16) return std::nullopt;
    header.size = LoadBe64(bytes.data() + 8);
    header.header_bytes = 16;
  } else if (header.size == 0) {
    header.size = room;
  }
  if (header.size < header.header_bytes || header.size > room) return std::nullopt;
  return header;
}

uint64_t MovTrack::ChunkOffset(uint32_t chunk) const {
  return wide_offsets ? LoadBe64(&chunk_offsets[size_t{chunk} * 8])
                      : LoadBe32(&chunk_offsets[size_t{chunk} * 4]);
}

uint32_t MovTrack::RunFirstChunk(uint32_t run) const {
  return LoadBe32(&chunk_runs[size_t{run} * 12]);
}

uint32_t MovTrack::RunSamples(uint32_t run) const {
  return LoadBe32(&chunk_runs[size_t{run} * 12 + 4]);
}

uint32_t MovTrack::SampleSize(uint32_t sample) const {
  if (constant_size != 0) return constant_size;
  switch (size_bits) {
    case 4: {
      const uint8_t pair = sizes[sample / 2];
      return sample % 2 == 0 ? pair >> 4 : pair & 15;
    }
    case 8:
      return sizes[sample];
    case 16:
      return LoadBe16(&sizes[size_t{sample} * 2]);
    default:
      return LoadBe32(&sizes[size_t{sample} * 4]);
  }
}

uint64_t MovTrack::SamplesBytes(uint64_t sample, uint64_t count) const {
  if (constant_size != 0) return count * constant_size;
  uint64_t bytes = 0;
  for (uint64_t k = 0; k < count; ++k) bytes += SampleSize(static_cast<uint32_t>(sample + k));
  return bytes;
}

MoovRead ReadMovieTracks(std::span<const uint8_t> moov, std::vector<MovTrack>* tracks) {
  Children children(moov);
  Box box;
  bool header = false;  // the movie header came first: what follows is a movie's boxes
  for (Next next; (next = children.Take(&box)) != Next::kEnd;) {
    if (next == Next::kBad) return header ? MoovRead::kBroken : MoovRead::kUnchecked;
    if (box.type == Fourcc("mvhd")) header = true;
    if (box.type == Fourcc("cmov") || box.type == Fourcc("mvex")) return MoovRead::kUnchecked;
    if (box.type != Fourcc("trak")) continue;
    if (!header) return MoovRead::kUnchecked;
    MovTrack track;
    if (!ReadTrack(box.body, &track)) return MoovRead::kBroken;
    tracks->push_back(track);
  }
  return header ? MoovRead::kRead : MoovRead::kUnchecked;
}

bool StartsAacFrame(uint8_t first) {
  const uint8_t element = first >> 5;
  const bool channel = element <= 1 || element == 3;
  return channel ? (first & 0x1E) == 0 : element == 4 || element == 6;
}

bool StartsAacFrameOf(const uint8_t* p, uint8_t channels) {
  // A single channel element: its global gain, then its window's reserved bit.
  if (channels == 1) return (p[0] >> 1) == 0 && (p[1] & 1) == 0;
  if (channels != 2 || (p[0] >> 1) != 0x10) return false;
  // A channel pair: one window for both (its reserved bit next), or the first channel's global
  // gain before it.
  const bool common_window = (p[0] & 1) != 0;
  return ((common_window ? p[1] : p[2]) & 0x80) == 0;
}

}  // namespace kestrel
