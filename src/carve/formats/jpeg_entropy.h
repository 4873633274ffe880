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
#include <memory>
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

// How the picture's rows meet: for the first scan that codes the DC coefficients of the frame's
// first component, that component's samples along the top and the bottom edge of every MCU
// (`edge` samples each, left to right) and the file offset where the MCU's data starts (at most
// kMaxTracedMcus MCUs). A sequential scan gives the samples from all coefficients; a progressive
// picture's first DC scan from the DC values alone.
struct JpegRowTrace {
  static constexpr size_t kMaxTracedMcus = size_t{1} << 18;
  uint64_t mcus_per_row = 0;
  uint64_t first_mcu = 0;  // the MCU the first entry is of (a decoding taken up again)
  size_t edge = 0;
  std::vector<uint64_t> offsets;
  std::vector<int16_t> top, bottom;  // `edge` samples per MCU
};

// A decoding's state kept inside a scan, to decode on from there with other bytes after that
// point: each continuation of a fragmented picture is tried from one decoding of its start.
class JpegKeptState {
 public:
  struct State;
  JpegKeptState();
  ~JpegKeptState();
  JpegKeptState(JpegKeptState&&) noexcept;
  JpegKeptState& operator=(JpegKeptState&&) noexcept;

  bool held() const { return state_ != nullptr; }
  void Hold(std::unique_ptr<State> state);

 private:
  friend JpegCheck ResumeJpegEntropy(const JpegKeptState&, ByteSource&, uint64_t,
                                     const struct JpegDecodeOptions&);
  std::unique_ptr<State> state_;
};

// What a decoding records and where it stops: with `stop_after`, the decoding ends (unchecked,
// `stopped`) at the first MCU whose data starts past that file offset. With `keep`, the state at
// the first MCU that starts at most 2 KiB before the file offset `keep_at`, having read no byte
// past it, is kept there.
struct JpegDecodeOptions {
  uint64_t stop_after = ~uint64_t{0};
  JpegRowTrace* trace = nullptr;
  uint64_t keep_at = ~uint64_t{0};
  JpegKeptState* keep = nullptr;
};

// Checks the JPEG of `length` bytes (SOI to EOI, both included) at byte `start` of `source`.
JpegCheck CheckJpegEntropy(ByteSource& source, uint64_t start, uint64_t length,
                           const JpegDecodeOptions& options = {});

// Decodes on from the state `kept` with the file (from byte 0 of `source`, `length` bytes) whose
// bytes before the kept point are those the kept decoding read. With a trace, the trace starts
// with the rows traced before the kept point. Unchecked when nothing is kept.
JpegCheck ResumeJpegEntropy(const JpegKeptState& kept, ByteSource& source, uint64_t length,
                            const JpegDecodeOptions& options = {});

}  // namespace kestrel
