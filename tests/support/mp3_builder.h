#pragma once
// MPEG audio frames and tags built byte by byte, for the MP3 carving and check tests.

#include <cstdint>
#include <vector>

#include "support/byte_strings.h"

namespace kestrel::testing {

// `count` frames of MPEG-1 layer III at 128 kbit/s: 417 bytes at 44.1 kHz (rate index 0), 384
// at 48 kHz (rate index 1); joint stereo, or mono.
inline std::vector<uint8_t> Mp3Frames(int count, uint8_t rate_index = 0, bool mono = false) {
  std::vector<uint8_t> frame = {0xFF, 0xFB, static_cast<uint8_t>(0x90 | rate_index << 2),
                                static_cast<uint8_t>(mono ? 0xC4 : 0x44)};
  // Side information of zeros: the frame's main data is empty and borrows nothing.
  frame.resize(4 + (mono ? 17 : 32), 0);
  frame.resize(rate_index == 0 ? 417 : 384, 0x55);
  std::vector<uint8_t> frames;
  for (int k = 0; k < count; ++k) frames.insert(frames.end(), frame.begin(), frame.end());
  return frames;
}

// An APEv2 tag with a header, one text item and a footer.
inline std::vector<uint8_t> ApeTag() {
  const std::vector<uint8_t> item =
      Concat({Le32Bytes(7), Le32Bytes(0), Bytes("Title"), {0}, Bytes("Kestrel")});
  const uint32_t size = static_cast<uint32_t>(item.size() + 32);
  auto frame = [&](uint32_t flags) {
    return Concat({Bytes("APETAGEX"), Le32Bytes(2000), Le32Bytes(size), Le32Bytes(1),
                   Le32Bytes(flags), std::vector<uint8_t>(8, 0)});
  };
  return Concat({frame(0xA0000000), item, frame(0x80000000)});
}

}  // namespace kestrel::testing
