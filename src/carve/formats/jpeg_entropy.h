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

#include <cstddef>
#include <cstdint>
#include <vector>

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
  uint64_t end = 0;        // file offset just past the EOI (kWhole)
  bool stopped = false;    // unchecked because the decoding reached its stop
};

// How the picture looks row over row: for the first scan that codes the DC coefficients of the
// frame's first component, that component's DC value in the first block of every MCU and the
// file offset where the MCU's data starts (at most kMaxTracedMcus MCUs).
struct JpegDcTrace {
  static constexpr size_t kMaxTracedMcus = size_t{1} << 20;
  uint64_t mcus_per_row = 0;
  std::vector<uint64_t> offsets;
  std::vector<int32_t> dc;
};

// What a decoding records and where it stops: with `stop_after`, the decoding ends (unchecked,
// `stopped`) at the first MCU whose data starts past that file offset.
struct JpegDecodeOptions {
  uint64_t stop_after = ~uint64_t{0};
  JpegDcTrace* trace = nullptr;
};

// Checks the JPEG of `length` bytes (SOI to EOI, both included) at byte `start` of `source`.
JpegCheck CheckJpegEntropy(ByteSource& source, uint64_t start, uint64_t length,
                           const JpegDecodeOptions& options = {});

}  // namespace kestrel
