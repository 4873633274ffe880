#include "carve/formats/jpeg_entropy.h"

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

#include "carve/formats/jpeg_edges.h"
#include "platform/byte_order.h"

namespace kestrel {
namespace {

// The window a file's bytes are read through: its first size, and its full size.
constexpr size_t kFirstWindow = 8 * 1024;
constexpr size_t kFullWindow = 64 * 1024;

// Bytes of the file read through a window of the source; -1 past its end or on a failed read.
class FileBytes {
 public:
  FileBytes(ByteSource& source, uint64_t start, uint64_t length)
      : source_(&source), start_(start), length_(length) {}

  // Reads on from the same offset through `source`, `length` bytes long, whose bytes before
  // that offset are this one's.
  void Rebind(ByteSource& source, uint64_t length) {
    source_ = &source;
    length_ = length;
    window_start_ = window_end_ = at_;
  }

  int Next() {
    if (at_ >= window_end_ && !Refill()) return -1;
    return window_[at_++ - window_start_];
  }
  uint64_t offset() const { return at_; }

 private:
  // The window starts small and grows to its full size: a decoding stopped soon after it starts
  // (a continuation tried at a cut) reads little.
  bool Refill() {
    if (at_ >= length_) return false;
    if (window_.size() < kFullWindow) {
      window_.resize(std::min(kFullWindow, std::max(kFirstWindow, 2 * window_.size())));
    }
    const size_t n = static_cast<size_t>(std::min<uint64_t>(window_.size(), length_ - at_));
    if (!source_->ReadExact(start_ + at_, window_.data(), n)) return false;
    window_start_ = at_;
    window_end_ = at_ + n;
    return true;
  }

  ByteSource* source_;
  uint64_t start_, length_;
  std::vector<uint8_t> window_;
  uint64_t at_ = 0, window_start_ = 0, window_end_ = 0;
};

// A Huffman table: codes up to 9 bits by one lookup, longer ones by the canonical order.
struct HuffmanTable {
  static constexpr int kLookBits = 9;
  bool defined = false;
  std::array<uint8_t, 1 << kLookBits> look_length{};  // 0: the code is longer
  std::array<uint8_t, 1 << kLookBits> look_symbol{};
  std::array<int32_t, 18> max_code{};  // per length, -1 when no code has it
  std::array<int32_t, 17> first_index{};
  std::array<int32_t, 17> min_code{};
  std::array<uint8_t, 256> symbols{};

  // From the 16 counts and the symbols of a DHT table; false when they give no valid code.
  bool Build(const uint8_t* counts, const uint8_t* values, size_t total) {
    look_length.fill(0);
    int32_t code = 0;
    size_t k = 0;
    for (int length = 1; length <= 16; ++length) {
      const int n = counts[length - 1];
      first_index[length] = static_cast<int32_t>(k);
      min_code[length] = code;
      for (int i = 0; i < n; ++i, ++k, ++code) {
        // More codes than the length can hold; checked before the code indexes the lookup.
        if (code >= (1 << length)) return false;
        symbols[k] = values[k];
        if (length <= kLookBits) {
          const int shift = kLookBits - length;
          for (int fill = 0; fill < (1 << shift); ++fill) {
            look_length[static_cast<size_t>((code << shift) | fill)] = static_cast<uint8_t>(length);
            look_symbol[static_cast<size_t>((code << shift) | fill)] = values[k];
          }
        }
      }
      max_code[length] = n == 0 ? -1 : code - 1;
      code <<= 1;
    }
    max_code[17] = 0x7FFFFFFF;
    defined = k == total && total > 0;
    return defined;
  }
};

struct Component {
  uint8_t id = 0, h = 1, v = 1;
  uint8_t dc_table = 0, ac_table = 0;
  uint8_t quant_table = 0;
  size_t index = 0;  // its place in the frame
};

// What a scan's header says of the coefficients it codes: spectral selection [ss, se] and
// successive approximation (ah: the bit coded before, 0 for a first scan).
struct Spectrum {
  int ss = 0, se = 63, ah = 0, al = 0;
  bool sequential() const { return ss == 0 && se == 63 && ah == 0 && al == 0; }
};

// The bits of one scan's entropy-coded data, with FF 00 stuffing removed. At a marker the real
// bits end; what is read past it is padding, and a code that needs padding bits has overrun.
class BitReader {
 public:
  explicit BitReader(FileBytes& bytes) : bytes_(&bytes) {}
  void Rebind(FileBytes& bytes) { bytes_ = &bytes; }

  // At least 32 bits in the buffer: enough for a code of up to 16 bits and its value bits.
  void Ensure() {
    if (bits_ < 32) Fill();
  }
  // The next `n` bits (n <= 16) after Ensure.
  uint32_t Peek(int n) const { return static_cast<uint32_t>(buffer_ >> (64 - n)); }
  // Drops `n` bits after Ensure; taking padding bits past a marker is an overrun.
  void Consume(int n) {
    buffer_ <<= n;
    bits_ -= n;
    real_ -= n;
  }

  // The marker that ended the data (0 at the file's end), once reached.
  bool at_marker() const { return marker_; }
  uint8_t marker() const { return marker_code_; }
  bool overrun() const { return real_ < 0; }
  // Whole bytes of data read ahead into the buffer and not decoded.
  uint64_t unread_bytes() const { return real_ > 0 ? static_cast<uint64_t>(real_ / 8) : 0; }
  uint64_t offset() const { return bytes_->offset(); }
  // About where the next bit lies in the file (stuffing bytes read ahead not counted).
  uint64_t data_offset() const { return bytes_->offset() - unread_bytes(); }

  __attribute__((noinline)) void Fill() {
    while (bits_ <= 56) {
      const int byte = marker_ ? 0xFF : NextDataByte();
      buffer_ |= uint64_t(static_cast<uint8_t>(marker_ ? 0xFF : byte)) << (56 - bits_);
      bits_ += 8;
      if (!marker_) real_ += 8;
    }
  }

  // Past a restart marker: the next interval starts on a fresh byte.
  void Restart() {
    buffer_ = 0;
    bits_ = real_ = 0;
    marker_ = false;
  }
  // Reads the rest of the data up to its marker, or until more than `limit` bytes are passed
  // over (so that a decoding that fails here fails where the data stopped fitting); the number
  // of bytes passed over.
  uint64_t SkipToMarker(uint64_t limit) {
    uint64_t skipped = 0;
    while (!marker_ && skipped <= limit) {
      NextDataByte();
      if (!marker_) ++skipped;
    }
    return skipped;
  }

 private:
  int NextDataByte() {
    const int byte = bytes_->Next();
    if (byte < 0) return EndAtMarker(0);
    if (byte != 0xFF) return byte;
    int code = bytes_->Next();
    while (code == 0xFF) code = bytes_->Next();  // fill bytes before a marker
    if (code == 0x00) return 0xFF;
    return EndAtMarker(code < 0 ? 0 : static_cast<uint8_t>(code));
  }
  int EndAtMarker(uint8_t code) {
    marker_ = true;
    marker_code_ = code;
    return 0xFF;
  }

  FileBytes* bytes_;
  uint64_t buffer_ = 0;
  int bits_ = 0;  // bits in the buffer
  int real_ = 0;  // of them, bits of the data (below 0: padding past a marker was taken)
  bool marker_ = false;
  uint8_t marker_code_ = 0;
};

// Natural-order index of each coefficient in the order a block codes them.
constexpr std::array<uint8_t, 64> kZigzag = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

class EntropyCheck {
  enum class Step : uint8_t { kOn, kBroken, kUnchecked, kStopped };

 public:
  EntropyCheck(ByteSource& source, uint64_t start, uint64_t length,
               const JpegDecodeOptions& options)
      : bytes_(source, start, length), options_(options) {}

  JpegCheck Run() {
    if (bytes_.Next() != 0xFF || bytes_.Next() != 0xD8) return Broken();
    return Walk(NextMarker());
  }

  // The state `kept` held, reading on through `source` (`length` bytes) with `options`.
  EntropyCheck(const EntropyCheck& kept, ByteSource& source, uint64_t length,
               const JpegDecodeOptions& options)
      : EntropyCheck(kept) {
    options_ = options;
    options_.keep = nullptr;
    if (options_.trace == nullptr) cursor_.traced = false;
    bytes_.Rebind(source, length);
    bits_.Rebind(bytes_);
  }

  // Decodes on inside the scan where the state was kept, and the rest of the file after it.
  JpegCheck Resume() {
    if (options_.trace != nullptr) *options_.trace = kept_rows_;
    const Step step = progressive_ ? ContinueProgressiveScan() : ContinueScan();
    if (step != Step::kOn) return Ended(step);
    return Walk(pending_marker_);
  }

 private:
  EntropyCheck(const EntropyCheck&) = default;

  // The segments and scans from the marker `code` on.
  JpegCheck Walk(int code) {
    while (code >= 0) {
      if (code == 0xD9) {
        return scans_ > 0 ? JpegCheck{JpegVerdict::kWhole, 0, bytes_.offset()} : Unchecked();
      }
      if (!ReadSegment()) return Broken();
      const bool scan = code == 0xDA;
      if (scan && ++scans_ > kMaxScans) return Unchecked();
      const Step step = scan ? DecodeScan() : TakeSegment(static_cast<uint8_t>(code));
      if (step != Step::kOn) return Ended(step);
      // A scan's data ends at the marker that comes next.
      code = scan ? pending_marker_ : NextMarker();
    }
    return Broken();
  }

  JpegCheck Ended(Step step) const {
    if (step == Step::kStopped) return {JpegVerdict::kUnchecked, 0, 0, true};
    return step == Step::kBroken ? Broken() : Unchecked();
  }

  static constexpr int kMaxScans = 256;
  // Bytes a scan may hold after its last MCU before the next marker (encoders pad to a byte).
  static constexpr uint64_t kTrailingSlack = 16;

  JpegCheck Broken() const { return {JpegVerdict::kBroken, bytes_.offset()}; }
  static JpegCheck Unchecked() { return {}; }

  // The code of the next marker (fill bytes skipped); -1 when the bytes are not a marker.
  int NextMarker() {
    if (bytes_.Next() != 0xFF) return -1;
    int code = bytes_.Next();
    while (code == 0xFF) code = bytes_.Next();
    return code;
  }

  // Reads the segment that follows a marker (its length field first) into segment_.
  bool ReadSegment() {
    const int high = bytes_.Next(), low = bytes_.Next();
    if (high < 0 || low < 0) return false;
    const uint32_t length = (uint32_t(high) << 8) | uint32_t(low);
    if (length < 2) return false;
    segment_.resize(length - 2);
    for (uint8_t& b : segment_) {
      const int byte = bytes_.Next();
      if (byte < 0) return false;
      b = static_cast<uint8_t>(byte);
    }
    return true;
  }

  Step TakeSegment(uint8_t code) {
    if (code == 0xC0 || code == 0xC1) return TakeFrame();
    if (code == 0xC2) {
      progressive_ = true;
      return TakeFrame();
    }
    if ((code >= 0xC2 && code <= 0xCF && code != 0xC4) || code == 0xDC) return Step::kUnchecked;
    if (code == 0xC4) return TakeHuffmanTables() ? Step::kOn : Step::kBroken;
    if (code == 0xDB) return TakeQuantTables() ? Step::kOn : Step::kBroken;
    if (code == 0xDD) {
      if (segment_.size() != 2) return Step::kBroken;
      restart_interval_ = LoadBe16(segment_.data());
    }
    return Step::kOn;
  }

  Step TakeFrame() {
    if (segment_.size() < 6 || frame_) return Step::kBroken;
    if (segment_[0] != 8) return Step::kUnchecked;  // 12-bit samples
    height_ = LoadBe16(&segment_[1]);
    width_ = LoadBe16(&segment_[3]);
    const size_t count = segment_[5];
    if (height_ == 0) return Step::kUnchecked;  // the height comes later (DNL)
    if (width_ == 0 || count == 0 || count > 4 || segment_.size() != 6 + 3 * count) {
      return Step::kBroken;
    }
    components_.clear();
    for (size_t i = 0; i < count; ++i) {
      const uint8_t* c = &segment_[6 + 3 * i];
      Component component;
      component.index = i;
      component.id = c[0];
      component.h = c[1] >> 4;
      component.v = c[1] & 15;
      component.quant_table = c[2] & 3;
      if (component.h < 1 || component.h > 4 || component.v < 1 || component.v > 4) {
        return Step::kBroken;
      }
      max_h_ = std::max(max_h_, component.h);
      max_v_ = std::max(max_v_, component.v);
      components_.push_back(component);
    }
    frame_ = true;
    return Step::kOn;
  }

  bool TakeHuffmanTables() {
    size_t at = 0;
    while (at < segment_.size()) {
      if (at + 17 > segment_.size()) return false;
      const uint8_t kind = segment_[at] >> 4, id = segment_[at] & 15;
      if (kind > 1 || id > 3) return false;
      size_t total = 0;
      for (int i = 1; i <= 16; ++i) total += segment_[at + static_cast<size_t>(i)];
      if (total > 256 || at + 17 + total > segment_.size()) return false;
      HuffmanTable& table = kind == 0 ? dc_[id] : ac_[id];
      if (!table.Build(&segment_[at + 1], &segment_[at + 17], total)) return false;
      at += 17 + total;
    }
    return true;
  }

  // Quantization tables, kept in natural order; 8- or 16-bit entries.
  bool TakeQuantTables() {
    size_t at = 0;
    while (at < segment_.size()) {
      const uint8_t precision = segment_[at] >> 4, id = segment_[at] & 15;
      const size_t entry = precision == 0 ? 1 : 2;
      if (precision > 1 || id > 3 || at + 1 + 64 * entry > segment_.size()) return false;
      for (size_t k = 0; k < 64; ++k) {
        const uint8_t* value = &segment_[at + 1 + k * entry];
        quant_[id][kZigzag[k]] = entry == 1 ? value[0] : LoadBe16(value);
      }
      at += 1 + 64 * entry;
    }
    return true;
  }

  // The components of the scan in segment_, in scan order, and the coefficients it codes; false
  // when the header does not fit the frame.
  bool TakeScanHeader(std::vector<Component>* scan, Spectrum* spectrum) {
    if (!frame_ || segment_.empty()) return false;
    const size_t count = segment_[0];
    if (count < 1 || count > 4 || segment_.size() != 4 + 2 * count) return false;
    for (size_t i = 0; i < count; ++i) {
      const uint8_t id = segment_[1 + 2 * i], tables = segment_[2 + 2 * i];
      auto found = std::find_if(components_.begin(), components_.end(),
                                [id](const Component& c) { return c.id == id; });
      if (found == components_.end()) return false;
      Component c = *found;
      c.dc_table = tables >> 4;
      c.ac_table = tables & 15;
      if (c.dc_table > 3 || c.ac_table > 3) return false;
      scan->push_back(c);
    }
    const uint8_t* tail = &segment_[1 + 2 * count];
    *spectrum = {tail[0], tail[1], tail[2] >> 4, tail[2] & 15};
    return true;
  }

  Step DecodeScan() {
    cursor_ = {};
    if (!TakeScanHeader(&cursor_.scan, &cursor_.spectrum)) return Step::kBroken;
    if (progressive_) return DecodeProgressiveScan();
    if (!cursor_.spectrum.sequential()) return Step::kBroken;
    for (const Component& c : cursor_.scan) {
      if (!dc_[c.dc_table].defined || !ac_[c.ac_table].defined) return Step::kBroken;
    }
    if (!Layout(cursor_.scan, &cursor_.mcus, &cursor_.row)) return Step::kBroken;
    cursor_.traced = StartTrace(cursor_.scan, cursor_.row);
    bits_ = BitReader(bytes_);
    return ContinueScan();
  }

  // The MCUs of a sequential scan from the cursor's on.
  Step ContinueScan() {
    BitReader& bits = bits_;
    for (; cursor_.mcu < cursor_.mcus; ++cursor_.mcu) {
      uint64_t at = 0;
      if (const Step step = StartMcu(&at); step != Step::kOn) return step;
      for (const Component& c : cursor_.scan) {
        const bool edges = cursor_.traced && c.index == 0;
        for (uint32_t b = 0; b < uint32_t{c.h} * c.v; ++b) {
          int32_t diff = 0;
          if (edges) coefficients_.fill(0);
          if (!DecodeBlock(bits, dc_[c.dc_table], ac_[c.ac_table], &diff,
                           edges ? coefficients_.data() : nullptr)) {
            return Step::kBroken;
          }
          if (c.index == 0) AddDc(diff);
          if (edges) TraceBlock(c, b, dc_value_);
        }
      }
      if (bits.overrun()) return Step::kBroken;
      if (cursor_.traced) Trace(at);
    }
    return EndOfScan(bits);
  }

  // Before each MCU: the state kept when asked for, the restart marker due, and the stop; the
  // file offset where the MCU's data starts in `*at`.
  Step StartMcu(uint64_t* at) {
    KeepHere();
    if (!TakeRestartAt(cursor_.mcu)) return Step::kBroken;
    *at = bits_.data_offset();
    return *at > options_.stop_after ? Step::kStopped : Step::kOn;
  }

  // Before MCU `mcu`: at the end of a restart interval, the restart marker of the cycle.
  bool TakeRestartAt(uint64_t mcu) {
    if (restart_interval_ == 0 || mcu == 0 || mcu % restart_interval_ != 0) return true;
    if (!TakeRestart(bits_, &cursor_.expected_restart)) return false;
    cursor_.eob_run = 0;
    dc_value_ = 0;
    return true;
  }

  // Keeps the state here when the decoding was asked to and has read no byte past the point.
  void KeepHere();

  // The MCUs of a scan of `scan`, and how many make a row; a scan of one component codes its
  // blocks one by one in the component's own raster (its blocks become 1 x 1). False when an MCU
  // holds too many blocks.
  bool Layout(std::vector<Component>& scan, uint64_t* mcus, uint64_t* row) const {
    if (scan.size() == 1) {
      *mcus = BlocksOf(scan[0]);
      *row = (CeilDiv(uint64_t{width_} * scan[0].h, max_h_) + 7) / 8;
      scan[0].h = scan[0].v = 1;
      return true;
    }
    *row = CeilDiv(width_, 8u * max_h_);
    *mcus = *row * CeilDiv(height_, 8u * max_v_);
    uint32_t blocks_per_mcu = 0;
    for (const Component& c : scan) blocks_per_mcu += uint32_t{c.h} * c.v;
    return blocks_per_mcu <= 10;
  }

  // The blocks of a component in its own raster.
  uint64_t BlocksOf(const Component& c) const {
    const uint64_t wide = (CeilDiv(uint64_t{width_} * c.h, max_h_) + 7) / 8;
    const uint64_t high = (CeilDiv(uint64_t{height_} * c.v, max_v_) + 7) / 8;
    return wide * high;
  }

  // After the last MCU: at most a few padding bytes, then a marker that starts the next segment
  // or ends the picture.
  Step EndOfScan(BitReader& bits) {
    if (!EndsWithinSlack(bits)) return Step::kBroken;
    pending_marker_ = bits.marker();
    if (pending_marker_ == 0 || pending_marker_ == 0x00 ||
        (pending_marker_ >= 0xD0 && pending_marker_ <= 0xD8)) {
      return Step::kBroken;
    }
    return Step::kOn;
  }

  // A progressive scan: DC coefficients of one or more components (first or refining bits),
  // or a band of AC coefficients of one component (first bits with end-of-band runs, or
  // refining bits, which need to know the coefficients earlier scans made non-zero).
  Step DecodeProgressiveScan() {
    const Spectrum& sp = cursor_.spectrum;
    std::vector<Component>& scan = cursor_.scan;
    const bool dc = sp.ss == 0;
    if (sp.se < sp.ss || sp.se > 63 || sp.al > 13 || (dc && sp.se != 0) ||
        (!dc && scan.size() != 1)) {
      return Step::kBroken;
    }
    for (const Component& c : scan) {
      if (dc && sp.ah == 0 && !dc_[c.dc_table].defined) return Step::kBroken;
      if (!dc && !ac_[c.ac_table].defined) return Step::kBroken;
    }
    if (!dc && !NonzeroFlagsFor(scan[0])) return Step::kUnchecked;
    if (!Layout(scan, &cursor_.mcus, &cursor_.row)) return Step::kBroken;
    cursor_.traced = dc && sp.ah == 0 && StartTrace(scan, cursor_.row);
    bits_ = BitReader(bytes_);
    return ContinueProgressiveScan();
  }

  // The MCUs of a progressive scan from the cursor's on.
  Step ContinueProgressiveScan() {
    const Spectrum& sp = cursor_.spectrum;
    const std::vector<Component>& scan = cursor_.scan;
    const bool dc = sp.ss == 0;
    BitReader& bits = bits_;
    for (; cursor_.mcu < cursor_.mcus; ++cursor_.mcu) {
      uint64_t at = 0;
      if (const Step step = StartMcu(&at); step != Step::kOn) return step;
      bool ok = true;
      if (dc) {
        for (const Component& c : scan) {
          for (uint32_t b = 0; b < uint32_t{c.h} * c.v && ok; ++b) {
            int32_t diff = 0;
            ok = sp.ah == 0 ? DecodeDcFirst(bits, dc_[c.dc_table], &diff) : TakeBits(bits, 1);
            if (c.index == 0) AddDc(diff);
            if (cursor_.traced && c.index == 0) {
              coefficients_.fill(0);
              TraceBlock(c, b, int64_t{dc_value_} * (1 << sp.al));
            }
          }
        }
        if (ok && cursor_.traced) Trace(at);
      } else {
        uint64_t& nonzero = nonzero_[scan[0].index][cursor_.mcu];
        const HuffmanTable& table = ac_[scan[0].ac_table];
        ok = sp.ah == 0 ? DecodeAcFirst(bits, table, sp, &cursor_.eob_run, &nonzero)
                        : DecodeAcRefine(bits, table, sp, &cursor_.eob_run, &nonzero);
      }
      if (!ok || bits.overrun()) return Step::kBroken;
    }
    return EndOfScan(bits);
  }

  // The non-zero coefficient flags of `c`'s blocks, made at its first AC scan; false when the
  // picture has too many blocks to keep them for.
  bool NonzeroFlagsFor(const Component& c) {
    if (nonzero_.size() < components_.size()) nonzero_.resize(components_.size());
    std::vector<uint64_t>& flags = nonzero_[c.index];
    const uint64_t blocks = BlocksOf(c);
    if (flags.size() == blocks) return true;
    if (blocks > kMaxFlaggedBlocks) return false;
    flags.assign(static_cast<size_t>(blocks), 0);
    return true;
  }

  static bool TakeBits(BitReader& bits, int n) {
    bits.Ensure();
    bits.Consume(n);
    return true;
  }

  static bool DecodeDcFirst(BitReader& bits, const HuffmanTable& dc, int32_t* diff) {
    const int size = DecodeSymbol(bits, dc);
    if (size < 0 || size > 11) return false;
    *diff = TakeValue(bits, size);
    return true;
  }

  // A coefficient of `size` bits (after Ensure; a code of at most 16 bits was taken since).
  static int32_t TakeValue(BitReader& bits, int size) {
    if (size == 0) return 0;
    const int32_t value = static_cast<int32_t>(bits.Peek(size));
    bits.Consume(size);
    return value < (1 << (size - 1)) ? value - (1 << size) + 1 : value;
  }

  // Whether the scan of `scan` (MCUs of `row` per row) is the one the trace follows: the first
  // to code the DC values of the frame's first component.
  bool StartTrace(const std::vector<Component>& scan, uint64_t row) {
    if (options_.trace == nullptr || traced_) return false;
    if (std::none_of(scan.begin(), scan.end(), [](const Component& c) { return c.index == 0; })) {
      return false;
    }
    traced_ = true;
    dc_value_ = 0;
    const Component& first =
        *std::find_if(scan.begin(), scan.end(), [](const Component& c) { return c.index == 0; });
    options_.trace->mcus_per_row = row;
    options_.trace->edge = 8u * first.h;
    mcu_top_.assign(options_.trace->edge, 0);
    mcu_bottom_.assign(options_.trace->edge, 0);
    return true;
  }

  // The first component's DC value moves by `diff`; foreign data may push it anywhere, real
  // values stay far inside the bound.
  void AddDc(int32_t diff) {
    constexpr int32_t kBound = 1 << 24;
    dc_value_ = std::clamp(dc_value_ + diff, -kBound, kBound);
  }

  // The last rows of `trace`: what a seam after them is compared with.
  JpegRowTrace TraceTail(const JpegRowTrace& trace) const {
    const size_t row = static_cast<size_t>(trace.mcus_per_row);
    const size_t n = std::min(trace.offsets.size(), 2 * row + 16);
    const size_t from = trace.offsets.size() - n;
    JpegRowTrace tail;
    tail.mcus_per_row = trace.mcus_per_row;
    tail.edge = trace.edge;
    tail.first_mcu = trace.first_mcu + from;
    tail.offsets.assign(trace.offsets.begin() + static_cast<ptrdiff_t>(from), trace.offsets.end());
    tail.top.assign(trace.top.begin() + static_cast<ptrdiff_t>(from * trace.edge), trace.top.end());
    tail.bottom.assign(trace.bottom.begin() + static_cast<ptrdiff_t>(from * trace.edge),
                       trace.bottom.end());
    return tail;
  }

  // Block `b` of the first component's blocks in an MCU (raster order, `c.h` wide), whose
  // coefficients are in coefficients_ with the DC value `dc`: its edges in the MCU's top or
  // bottom row of samples.
  void TraceBlock(const Component& c, uint32_t b, int64_t dc) {
    const uint32_t row = b / c.h, column = b % c.h;
    if (row != 0 && row + 1 != c.v) return;
    // Foreign data may push the DC value anywhere; a real one stays far inside this.
    coefficients_[0] = static_cast<int32_t>(std::clamp<int64_t>(dc, -32768, 32767));
    const std::array<uint16_t, 64>& quant = quant_[c.quant_table];
    for (size_t k = 0; k < 64; ++k) coefficients_[k] *= quant[k];
    int16_t top[8], bottom[8];
    BlockEdges(coefficients_.data(), top, bottom);
    if (row == 0) std::copy(top, top + 8, mcu_top_.begin() + 8 * column);
    if (row + 1 == c.v) std::copy(bottom, bottom + 8, mcu_bottom_.begin() + 8 * column);
  }

  void Trace(uint64_t at) {
    JpegRowTrace& trace = *options_.trace;
    if (trace.offsets.size() >= JpegRowTrace::kMaxTracedMcus) return;
    trace.offsets.push_back(at);
    trace.top.insert(trace.top.end(), mcu_top_.begin(), mcu_top_.end());
    trace.bottom.insert(trace.bottom.end(), mcu_bottom_.begin(), mcu_bottom_.end());
  }

  // The first bits of a band of AC coefficients of one block.
  static bool DecodeAcFirst(BitReader& bits, const HuffmanTable& ac, const Spectrum& sp,
                            uint32_t* eob_run, uint64_t* nonzero) {
    if (*eob_run > 0) {
      --*eob_run;
      return true;
    }
    for (int k = sp.ss; k <= sp.se;) {
      const int symbol = DecodeSymbol(bits, ac);
      if (symbol < 0) return false;
      const int run = symbol >> 4, size = symbol & 15;
      if (size == 0) {
        if (run < 15) {  // an end-of-band run of this and (2^run + bits - 1) more blocks
          *eob_run = (1u << run) - 1;
          if (run > 0) {
            bits.Ensure();
            *eob_run += bits.Peek(run);
            bits.Consume(run);
          }
          return true;
        }
        k += 16;
        if (k > sp.se + 1) return false;
        continue;
      }
      if (size > 10 + 4) return false;
      k += run;
      if (k > sp.se) return false;
      bits.Ensure();
      bits.Consume(size);
      *nonzero |= uint64_t{1} << k;
      ++k;
    }
    return true;
  }

  // Refining bits of a band of AC coefficients of one block: a bit for every coefficient made
  // non-zero before, and newly non-zero coefficients of magnitude one placed among the zeros.
  static bool DecodeAcRefine(BitReader& bits, const HuffmanTable& ac, const Spectrum& sp,
                             uint32_t* eob_run, uint64_t* nonzero) {
    int k = sp.ss;
    if (*eob_run == 0) {
      for (; k <= sp.se; ++k) {
        const int symbol = DecodeSymbol(bits, ac);
        if (symbol < 0) return false;
        int run = symbol >> 4;
        const int size = symbol & 15;
        if (size == 0 && run < 15) {
          *eob_run = 1u << run;
          if (run > 0) {
            bits.Ensure();
            *eob_run += bits.Peek(run);
            bits.Consume(run);
          }
          break;
        }
        if (size != 0 && size != 1) return false;
        if (size == 1) TakeBits(bits, 1);  // the sign of the new coefficient
        // Zeros are counted off the run; coefficients already non-zero get a refining bit.
        for (; k <= sp.se; ++k) {
          if ((*nonzero >> k) & 1) {
            TakeBits(bits, 1);
          } else if (--run < 0) {
            break;
          }
        }
        if (size == 1) {
          if (k > sp.se) return false;
          *nonzero |= uint64_t{1} << k;
        }
      }
    }
    if (*eob_run > 0) {
      for (; k <= sp.se; ++k) {
        if ((*nonzero >> k) & 1) TakeBits(bits, 1);
      }
      --*eob_run;
    }
    return true;
  }

  static uint64_t CeilDiv(uint64_t a, uint64_t b) { return (a + b - 1) / b; }

  // Whether the data reaches its marker within a few padding bytes.
  static bool EndsWithinSlack(BitReader& bits) {
    const uint64_t unread = bits.unread_bytes();
    return unread <= kTrailingSlack &&
           unread + bits.SkipToMarker(kTrailingSlack - unread) <= kTrailingSlack;
  }

  // At the end of a restart interval the data stops at the next RSTn of the cycle.
  static bool TakeRestart(BitReader& bits, uint32_t* expected) {
    if (!EndsWithinSlack(bits)) return false;
    if (bits.marker() != 0xD0 + *expected) return false;
    *expected = (*expected + 1) % 8;
    bits.Restart();
    return true;
  }

  static int DecodeSymbol(BitReader& bits, const HuffmanTable& table) {
    bits.Ensure();
    const uint32_t look = bits.Peek(HuffmanTable::kLookBits);
    if (const uint8_t length = table.look_length[look]; length != 0) {
      bits.Consume(length);
      return table.look_symbol[look];
    }
    for (int length = HuffmanTable::kLookBits + 1; length <= 16; ++length) {
      const int32_t code = static_cast<int32_t>(bits.Peek(length));
      if (code <= table.max_code[static_cast<size_t>(length)]) {
        bits.Consume(length);
        return table
            .symbols[static_cast<size_t>(table.first_index[static_cast<size_t>(length)] + code -
                                         table.min_code[static_cast<size_t>(length)])];
      }
    }
    return -1;  // no code of the table
  }

  // One 8x8 block: a DC difference of at most 11 bits, then AC run/size pairs that stay inside
  // the 63 AC coefficients.
  static bool DecodeBlock(BitReader& bits, const HuffmanTable& dc, const HuffmanTable& ac,
                          int32_t* dc_diff, int32_t* coefficients = nullptr) {
    const int dc_size = DecodeSymbol(bits, dc);
    if (dc_size < 0 || dc_size > 11) return false;
    *dc_diff = TakeValue(bits, dc_size);
    for (int k = 1; k < 64;) {
      const int symbol = DecodeSymbol(bits, ac);
      if (symbol < 0) return false;
      const int run = symbol >> 4, size = symbol & 15;
      if (size == 0) {
        if (run != 15) break;  // end of block
        k += 16;
        if (k > 64) return false;
        continue;
      }
      if (size > 10) return false;
      k += run;
      if (k > 63) return false;
      if (coefficients != nullptr) {
        coefficients[kZigzag[static_cast<size_t>(k)]] = TakeValue(bits, size);
      } else {
        bits.Consume(size);
      }
      ++k;
    }
    return true;
  }

  // Where the decoding is inside the scan being decoded.
  struct Cursor {
    std::vector<Component> scan;
    Spectrum spectrum;
    uint64_t mcus = 0, row = 0, mcu = 0;
    uint32_t expected_restart = 0, eob_run = 0;
    bool traced = false;
  };
  // The state is kept at the first MCU that starts at most this far before the point asked for.
  static constexpr uint64_t kKeepLead = 2048;

  FileBytes bytes_;
  JpegDecodeOptions options_;
  Cursor cursor_;
  BitReader bits_{bytes_};
  bool kept_ = false;
  JpegRowTrace kept_rows_;
  bool traced_ = false;   // the trace's scan was met
  int32_t dc_value_ = 0;  // the first component's DC value, in the scan being decoded
  std::vector<uint8_t> segment_;
  std::array<HuffmanTable, 4> dc_{}, ac_{};
  std::vector<Component> components_;
  bool frame_ = false;
  uint16_t width_ = 0, height_ = 0;
  uint8_t max_h_ = 1, max_v_ = 1;
  uint16_t restart_interval_ = 0;
  int pending_marker_ = -1;
  bool progressive_ = false;
  std::array<std::array<uint16_t, 64>, 4> quant_{};
  // The traced block's coefficients, and the traced MCU's edge samples.
  std::array<int32_t, 64> coefficients_{};
  std::vector<int16_t> mcu_top_, mcu_bottom_;
  // Per component and block, the AC coefficients progressive scans have made non-zero.
  std::vector<std::vector<uint64_t>> nonzero_;
  static constexpr uint64_t kMaxFlaggedBlocks = 4u << 20;  // 32 MiB of flags at most
  int scans_ = 0;
};

}  // namespace

struct JpegKeptState::State {
  std::unique_ptr<EntropyCheck> check;
};

void EntropyCheck::KeepHere() {
  if (options_.keep == nullptr || kept_ || bytes_.offset() > options_.keep_at ||
      bytes_.offset() + kKeepLead < options_.keep_at) {
    return;
  }
  kept_ = true;
  auto state = std::make_unique<JpegKeptState::State>();
  state->check.reset(new EntropyCheck(*this));
  state->check->bits_.Rebind(state->check->bytes_);
  state->check->options_ = {};
  if (options_.trace != nullptr) state->check->kept_rows_ = TraceTail(*options_.trace);
  options_.keep->Hold(std::move(state));
}

JpegKeptState::JpegKeptState() = default;
JpegKeptState::~JpegKeptState() = default;
JpegKeptState::JpegKeptState(JpegKeptState&&) noexcept = default;
JpegKeptState& JpegKeptState::operator=(JpegKeptState&&) noexcept = default;

void JpegKeptState::Hold(std::unique_ptr<State> state) {
  state_ = std::move(state);
}

JpegCheck CheckJpegEntropy(ByteSource& source, uint64_t start, uint64_t length,
                           const JpegDecodeOptions& options) {
  return EntropyCheck(source, start, length, options).Run();
}

JpegCheck ResumeJpegEntropy(const JpegKeptState& kept, ByteSource& source, uint64_t length,
                            const JpegDecodeOptions& options) {
  if (kept.state_ == nullptr) return {};
  return EntropyCheck(*kept.state_->check, source, length, options).Resume();
}

}  // namespace kestrel
