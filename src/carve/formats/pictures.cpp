#include "carve/formats/pictures.h"

#include <cstring>

#include "platform/byte_order.h"

namespace kestrel {
namespace {

// What one step of the walk found.
enum class Walk : uint8_t {
  kOn,      // the walk goes on at state.next
  kWait,    // the bytes it needs lie past the source's end: the file is not whole
  kRefuse,  // not a GIF's block structure
  kEnd,     // the trailer: the file ends at state.next
};

using Part = GifState::Part;

// Bytes of a colour table announced by a packed field (flag in bit 7, size in bits 0-2).
uint32_t ColourTableBytes(uint8_t packed) {
  return (packed & 0x80) != 0 ? 3u << ((packed & 7) + 1) : 0;
}

// The header and logical screen descriptor at the file's start.
Walk TakeHeader(GifState& s, const SectorInput& in, uint64_t base, uint32_t at) {
  if (!in.HasBytes(at, 13)) return Walk::kWait;
  const uint8_t* h = in.data + at;
  if (std::memcmp(h, "GIF87a", 6) != 0 && std::memcmp(h, "GIF89a", 6) != 0) return Walk::kRefuse;
  if (LoadLe16(h + 6) == 0 || LoadLe16(h + 8) == 0) return Walk::kRefuse;
  s.next = base + at + 13 + ColourTableBytes(h[10]);
  s.part = Part::kBlock;
  return Walk::kOn;
}

// The block whose introducer is at `at`.
Walk TakeBlock(GifState& s, const SectorInput& in, uint64_t base, uint32_t at) {
  if (!in.HasBytes(at, 1)) return Walk::kWait;
  const uint8_t* b = in.data + at;
  switch (b[0]) {
    case 0x3B:  // the trailer ends a file that holds a picture
      if (!s.image) return Walk::kRefuse;
      s.next = base + at + 1;
      return Walk::kEnd;
    case 0x21: {  // extension: label, then sub-blocks
      if (!in.HasBytes(at, 3)) return Walk::kWait;
      const uint8_t label = b[1];
      const uint8_t first_block = b[2];
      // Graphic control (4 bytes), plain text (12), application (11): fixed first blocks.
      const bool valid = (label == 0xF9 && first_block == 4) ||
                         (label == 0x01 && first_block == 12) ||
                         (label == 0xFF && first_block == 11) || label == 0xFE;
      if (!valid) return Walk::kRefuse;
      s.next = base + at + 2;
      s.part = Part::kSubBlocks;
      return Walk::kOn;
    }
    case 0x2C: {  // image descriptor, local colour table, LZW minimum code size, data
      if (!in.HasBytes(at, 10)) return Walk::kWait;
      if (LoadLe16(b + 5) == 0 || LoadLe16(b + 7) == 0) return Walk::kRefuse;
      const uint32_t code_size_at = at + 10 + ColourTableBytes(b[9]);
      if (!in.HasBytes(code_size_at, 1)) return Walk::kWait;
      const uint8_t code_size = in.data[code_size_at];
      if (code_size < 2 || code_size > 8) return Walk::kRefuse;
      s.next = base + code_size_at + 1;
      s.part = Part::kSubBlocks;
      s.image = true;
      return Walk::kOn;
    }
    default:
      return Walk::kRefuse;
  }
}

// Data sub-blocks from `at`, up to the zero size byte that ends the chain or past the sector.
Walk TakeSubBlocks(GifState& s, const SectorInput& in, uint64_t base, uint32_t at) {
  uint64_t p = at;
  while (p < in.count) {
    const uint8_t size = in.data[p];
    if (size == 0) {
      s.next = base + p + 1;
      s.part = Part::kBlock;
      return Walk::kOn;
    }
    p += 1 + uint64_t{size};
  }
  s.next = base + p;
  return Walk::kOn;
}

}  // namespace

GifState StartGif() {
  return {};
}

Fed FeedGif(GifState& s, const CarveView& view) {
  const SectorInput& in = view.in;
  const uint64_t base = view.written;
  if (base >= kGifSizeCap) return Refuse();
  const uint64_t end = base + in.count;
  while (s.next < end) {
    const uint32_t at = static_cast<uint32_t>(s.next - base);
    Walk walk = Walk::kOn;
    switch (s.part) {
      case Part::kHeader:
        walk = TakeHeader(s, in, base, at);
        break;
      case Part::kBlock:
        walk = TakeBlock(s, in, base, at);
        break;
      case Part::kSubBlocks:
        walk = TakeSubBlocks(s, in, base, at);
        break;
    }
    if (walk == Walk::kRefuse) return Refuse();
    if (walk == Walk::kWait) break;
    if (walk == Walk::kEnd) {
      s.complete = true;
      return Complete(s.next - base);
    }
  }
  return More(in.count);
}

Kept FinishGif(const GifState& state) {
  return state.complete ? KeepAsIs() : Drop();
}

Match MatchGif(const RowInput& r, Start* s) {
  return r.h.StartsWith(0, "GIF8") ? Opens(s, StartGif()) : Match::kNo;
}

}  // namespace kestrel
