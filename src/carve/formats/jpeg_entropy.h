#pragma once
// Whether a carved JPEG is whole, told by decoding it: the Huffman-coded data of every scan of a
// sequential (baseline or extended, 8-bit) picture is decoded block by block to the last MCU the
// frame header calls for, restart markers must come in sequence after every restart interval,
// and the scan must end where its last MCU ends. A picture whose data runs into foreign bytes
// (another file, random data, text) breaks one of these within a few hundred bytes as a rule:
// an invalid Huffman code, a coefficient past the 64th, a marker where none may stand, or an MCU
// count that does not fit. Only the entropy decoding is done (no inverse DCT), and the file is
// read from the source through a small window, so memory stays bounded whatever its size.
//
// Progressive pictures are decoded scan by scan (DC, first and refining AC bands). Lossless,
// hierarchical, arithmetic-coded and 12-bit pictures are not decoded: they are reported
// unchecked and keep the marker walk's verdict.

#include <cstdint>

#include "platform/byte_source.h"

namespace kestrel {

enum class JpegVerdict : uint8_t {
  kWhole,      // every scan decodes to its last MCU
  kBroken,     // the data stops making sense at `broken_at`
  kUnchecked,  // a coding this check does not decode
};

struct JpegCheck {
  JpegVerdict verdict = JpegVerdict::kUnchecked;
  uint64_t broken_at = 0;  // file offset where the decoding failed (kBroken)
};

// Checks the JPEG of `length` bytes (SOI to EOI, both included) at byte `start` of `source`.
JpegCheck CheckJpegEntropy(ByteSource& source, uint64_t start, uint64_t length);

}  // namespace kestrel
