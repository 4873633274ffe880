#include "fs/ntfs/ntfs_lznt1.h"

#include <algorithm>
#include <cstring>

namespace kestrel {
namespace {

constexpr size_t kChunkOutput = 4096;
constexpr uint16_t kCompressedChunk = 0x8000;

// A back-reference's offset takes more of its 16 bits the further into the chunk it stands:
// 4 bits up to position 16, one more at every doubling.
unsigned OffsetBits(size_t position) {
  unsigned bits = 4;
  for (size_t p = position - 1; p >= 0x10; p >>= 1) ++bits;
  return bits;
}

// One compressed chunk into `out` (at most 4096 bytes). The bytes written, or -1 when damaged.
long DecompressChunk(std::span<const uint8_t> in, std::span<uint8_t> out) {
  size_t at = 0;
  size_t made = 0;
  while (at < in.size()) {
    const uint8_t flags = in[at++];
    for (int bit = 0; bit < 8 && at < in.size(); ++bit) {
      if ((flags >> bit & 1) == 0) {
        if (made >= out.size()) return -1;
        out[made++] = in[at++];
        continue;
      }
      if (at + 2 > in.size() || made == 0) return -1;
      const uint16_t token = static_cast<uint16_t>(in[at] | (in[at + 1] << 8));
      at += 2;
      const unsigned length_bits = 16 - OffsetBits(made);
      const size_t offset = (token >> length_bits) + 1u;
      const size_t length = (token & ((1u << length_bits) - 1)) + 3u;
      if (offset > made || length > out.size() - made) return -1;
      // Overlapping copies repeat the bytes just written, one at a time.
      for (size_t i = 0; i < length; ++i, ++made) out[made] = out[made - offset];
    }
  }
  return static_cast<long>(made);
}

}  // namespace

bool DecompressLznt1(std::span<const uint8_t> in, std::span<uint8_t> out) {
  std::fill(out.begin(), out.end(), 0);
  size_t at = 0;
  size_t made = 0;
  while (at + 2 <= in.size() && made < out.size()) {
    const uint16_t header = static_cast<uint16_t>(in[at] | (in[at + 1] << 8));
    if (header == 0) break;  // the unit ends before its last chunk
    const size_t size = (header & 0x0FFFu) + 1u;
    at += 2;
    if (size > in.size() - at) return false;
    const std::span<const uint8_t> chunk = in.subspan(at, size);
    const std::span<uint8_t> target = out.subspan(made, std::min(kChunkOutput, out.size() - made));
    if ((header & kCompressedChunk) != 0) {
      const long got = DecompressChunk(chunk, target);
      if (got < 0) return false;
    } else {
      if (size > target.size()) return false;
      std::memcpy(target.data(), chunk.data(), size);
    }
    // Every chunk but the last stands for 4096 bytes of output, even when it made fewer.
    made += kChunkOutput;
    at += size;
  }
  return true;
}

}  // namespace kestrel
