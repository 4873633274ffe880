#pragma once
// LZNT1, the compression of NTFS compressed files: a compression unit is stored as chunks of at
// most 4096 bytes of output, each either raw or a stream of literals and back-references.

#include <cstddef>
#include <cstdint>
#include <span>

namespace kestrel {

// Decompresses one compression unit from `in` into `out`, which is filled to its end (bytes
// past the last chunk are zeros). False when the data are damaged: a chunk that runs past
// `in`, a back-reference before the start of its chunk, or more output than `out` holds.
bool DecompressLznt1(std::span<const uint8_t> in, std::span<uint8_t> out);

}  // namespace kestrel
