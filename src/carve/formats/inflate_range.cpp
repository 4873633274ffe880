#include "carve/formats/inflate_range.h"

#include <zlib.h>

#include <algorithm>
#include <array>

namespace kestrel {
namespace {

// Bytes handed to zlib per call, in and out.
constexpr size_t kChunk = 16 * 1024;
constexpr uint64_t kHeaderBytes = 2;
constexpr uint64_t kChecksumBytes = 4;

bool IsZlibHeader(int cmf, int flg) {
  return cmf >= 0 && flg >= 0 && (cmf & 0x0F) == 8 && (cmf >> 4) <= 7 &&
         (cmf * 256 + flg) % 31 == 0 && (flg & 0x20) == 0;
}

// Raw deflate: the header is checked above and the checksum here, so that a stream whose
// deflate data is sound but whose checksum is wrong can be told from a broken one.
class RawInflater {
 public:
  RawInflater() { ok_ = inflateInit2(&stream_, -MAX_WBITS) == Z_OK; }
  ~RawInflater() {
    if (ok_) inflateEnd(&stream_);
  }
  RawInflater(const RawInflater&) = delete;
  RawInflater& operator=(const RawInflater&) = delete;

  bool ok() const { return ok_; }
  z_stream& stream() { return stream_; }

 private:
  z_stream stream_{};
  bool ok_ = false;
};

Inflated CompareChecksum(CheckWindow& window, uint64_t at, uint64_t end, uLong adler) {
  if (end - at < kChecksumBytes) return Inflated::kBadChecksum;
  const std::span<const uint8_t> stored = window.At(at, kChecksumBytes);
  if (stored.size() != kChecksumBytes) return Inflated::kUnreadable;
  const uLong value =
      uLong{stored[0]} << 24 | uLong{stored[1]} << 16 | uLong{stored[2]} << 8 | uLong{stored[3]};
  return value == adler ? Inflated::kEnd : Inflated::kBadChecksum;
}

}  // namespace

Inflated InflateRange(CheckWindow& window, uint64_t offset, uint64_t size, uint64_t max_output,
                      std::vector<uint8_t>* output, uint64_t* produced) {
  *produced = 0;
  if (size < kHeaderBytes || !IsZlibHeader(window.Byte(offset), window.Byte(offset + 1))) {
    return window.failed() ? Inflated::kUnreadable : Inflated::kNoHeader;
  }
  RawInflater inflater;
  if (!inflater.ok()) return Inflated::kUnreadable;
  z_stream& z = inflater.stream();
  std::array<uint8_t, kChunk> out{};
  uLong adler = adler32(0, nullptr, 0);
  const uint64_t end = offset + size;
  for (uint64_t at = offset + kHeaderBytes; at < end;) {
    const std::span<const uint8_t> in =
        window.At(at, static_cast<size_t>(std::min<uint64_t>(kChunk, end - at)));
    if (in.empty()) return Inflated::kUnreadable;
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = static_cast<uInt>(in.size());
    do {
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(out.size());
      const int result = inflate(&z, Z_NO_FLUSH);
      const size_t n = out.size() - z.avail_out;
      *produced += n;
      adler = adler32(adler, out.data(), static_cast<uInt>(n));
      if (output != nullptr) output->insert(output->end(), out.begin(), out.begin() + n);
      if (result == Z_STREAM_END) {
        return CompareChecksum(window, at + (in.size() - z.avail_in), end, adler);
      }
      if (result == Z_DATA_ERROR) return Inflated::kBroken;
      if (result != Z_OK && result != Z_BUF_ERROR) return Inflated::kUnreadable;
      if (*produced >= max_output) return Inflated::kCapped;
    } while (z.avail_out == 0);
    if (z.avail_in != 0) return Inflated::kUnreadable;
    at += in.size();
  }
  return Inflated::kRanOut;
}

}  // namespace kestrel
