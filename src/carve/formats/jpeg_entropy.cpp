#include "carve/formats/jpeg_entropy.h"

#include <algorithm>
#include <array>
#include <vector>

#include "platform/byte_order.h"

namespace kestrel {
namespace {

// Bytes of the file read through a window of the source; -1 past its end or on a failed read.
class FileBytes {
 public:
  FileBytes(ByteSource& source, uint64_t start, uint64_t length)
      : source_(source), start_(start), length_(length), window_(64 * 1024) {}

  int Next() {
    if (at_ >= window_end_ && !Refill()) return -1;
    return window_[at_++ - window_start_];
  }
  uint64_t offset() const { return at_; }

 private:
  bool Refill() {
    if (at_ >= length_) return false;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(window_.size(), length_ - at_));
    if (!source_.ReadExact(start_ + at_, window_.data(), n)) return false;
    window_start_ = at_;
    window_end_ = at_ + n;
    return true;
  }

  ByteSource& source_;
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
  explicit BitReader(FileBytes& bytes) : bytes_(bytes) {}

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
  uint64_t offset() const { return bytes_.offset(); }
  // About where the next bit lies in the file (stuffing bytes read ahead not counted).
  uint64_t data_offset() const { return bytes_.offset() - unread_bytes(); }

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
    const int byte = bytes_.Next();
    if (byte < 0) return EndAtMarker(0);
    if (byte != 0xFF) return byte;
    int code = bytes_.Next();
    while (code == 0xFF) code = bytes_.Next();  // fill bytes before a marker
    if (code == 0x00) return 0xFF;
    return EndAtMarker(code < 0 ? 0 : static_cast<uint8_t>(code));
  }
  int EndAtMarker(uint8_t code) {
    marker_ = true;
    marker_code_ = code;
    return 0xFF;
  }

  FileBytes& bytes_;
  uint64_t buffer_ = 0;
  int bits_ = 0;  // bits in the buffer
  int real_ = 0;  // of them, bits of the data (below 0: padding past a marker was taken)
  bool marker_ = false;
  uint8_t marker_code_ = 0;
};

class EntropyCheck {
 public:
  EntropyCheck(ByteSource& source, uint64_t start, uint64_t length,
               const JpegDecodeOptions& options)
      : bytes_(source, start, length), options_(options) {}

  JpegCheck Run() {
    if (bytes_.Next() != 0xFF || bytes_.Next() != 0xD8) return Broken();
    int scans = 0;
    for (int code = NextMarker(); code >= 0;) {
      if (code == 0xD9) {
        return scans > 0 ? JpegCheck{JpegVerdict::kWhole, 0, bytes_.offset()} : Unchecked();
      }
      if (!ReadSegment()) return Broken();
      const bool scan = code == 0xDA;
      if (scan && ++scans > kMaxScans) return Unchecked();
      const Step step = scan ? DecodeScan() : TakeSegment(static_cast<uint8_t>(code));
      if (step == Step::kStopped) return {JpegVerdict::kUnchecked, 0, 0, true};
      if (step != Step::kOn) return step == Step::kBroken ? Broken() : Unchecked();
      // A scan's data ends at the marker that comes next.
      code = scan ? pending_marker_ : NextMarker();
    }
    return Broken();
  }

 private:
  enum class Step : uint8_t { kOn, kBroken, kUnchecked, kStopped };
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
    std::vector<Component> scan;
    Spectrum spectrum;
    if (!TakeScanHeader(&scan, &spectrum)) return Step::kBroken;
    if (progressive_) return DecodeProgressiveScan(scan, spectrum);
    if (!spectrum.sequential()) return Step::kBroken;
    for (const Component& c : scan) {
      if (!dc_[c.dc_table].defined || !ac_[c.ac_table].defined) return Step::kBroken;
    }
    uint64_t mcus = 0, row = 0;
    if (!Layout(scan, &mcus, &row)) return Step::kBroken;
    const bool traced = StartTrace(scan, row);
    BitReader bits(bytes_);
    uint32_t expected_restart = 0;
    for (uint64_t mcu = 0; mcu < mcus; ++mcu) {
      if (restart_interval_ != 0 && mcu != 0 && mcu % restart_interval_ == 0) {
        if (!TakeRestart(bits, &expected_restart)) return Step::kBroken;
        dc_value_ = 0;
      }
      const uint64_t at = bits.data_offset();
      if (at > options_.stop_after) return Step::kStopped;
      int32_t first_dc = 0;
      for (const Component& c : scan) {
        for (uint32_t b = 0; b < uint32_t{c.h} * c.v; ++b) {
          int32_t diff = 0;
          if (!DecodeBlock(bits, dc_[c.dc_table], ac_[c.ac_table], &diff)) return Step::kBroken;
          if (c.index == 0) AddDc(diff);
          if (c.index == 0 && b == 0) first_dc = dc_value_;
        }
      }
      if (bits.overrun()) return Step::kBroken;
      if (traced) Trace(at, first_dc);
    }
    return EndOfScan(bits);
  }

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
  Step DecodeProgressiveScan(std::vector<Component>& scan, const Spectrum& sp) {
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
    uint64_t mcus = 0, row = 0;
    if (!Layout(scan, &mcus, &row)) return Step::kBroken;
    const bool traced = dc && sp.ah == 0 && StartTrace(scan, row);
    BitReader bits(bytes_);
    uint32_t expected_restart = 0;
    uint32_t eob_run = 0;
    std::vector<uint64_t>* flags = dc ? nullptr : &nonzero_[scan[0].index];
    for (uint64_t mcu = 0; mcu < mcus; ++mcu) {
      if (restart_interval_ != 0 && mcu != 0 && mcu % restart_interval_ == 0) {
        if (!TakeRestart(bits, &expected_restart)) return Step::kBroken;
        eob_run = 0;
        dc_value_ = 0;
      }
      const uint64_t at = bits.data_offset();
      if (at > options_.stop_after) return Step::kStopped;
      bool ok = true;
      if (dc) {
        int32_t first_dc = 0;
        for (const Component& c : scan) {
          for (uint32_t b = 0; b < uint32_t{c.h} * c.v && ok; ++b) {
            int32_t diff = 0;
            ok = sp.ah == 0 ? DecodeDcFirst(bits, dc_[c.dc_table], &diff) : TakeBits(bits, 1);
            if (c.index == 0) AddDc(diff);
            if (c.index == 0 && b == 0) first_dc = dc_value_;
          }
        }
        if (ok && traced) Trace(at, first_dc);
      } else {
        uint64_t& nonzero = (*flags)[mcu];
        const HuffmanTable& table = ac_[scan[0].ac_table];
        ok = sp.ah == 0 ? DecodeAcFirst(bits, table, sp, &eob_run, &nonzero)
                        : DecodeAcRefine(bits, table, sp, &eob_run, &nonzero);
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
    options_.trace->mcus_per_row = row;
    return true;
  }

  // The first component's DC value moves by `diff`; foreign data may push it anywhere, real
  // values stay far inside the bound.
  void AddDc(int32_t diff) {
    constexpr int32_t kBound = 1 << 24;
    dc_value_ = std::clamp(dc_value_ + diff, -kBound, kBound);
  }

  void Trace(uint64_t at, int32_t dc) {
    JpegDcTrace& trace = *options_.trace;
    if (trace.dc.size() >= JpegDcTrace::kMaxTracedMcus) return;
    trace.offsets.push_back(at);
    trace.dc.push_back(dc);
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
                          int32_t* dc_diff) {
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
      bits.Consume(size);
      ++k;
    }
    return true;
  }

  FileBytes bytes_;
  JpegDecodeOptions options_;
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
  // Per component and block, the AC coefficients progressive scans have made non-zero.
  std::vector<std::vector<uint64_t>> nonzero_;
  static constexpr uint64_t kMaxFlaggedBlocks = 4u << 20;  // 32 MiB of flags at most
};

}  // namespace

JpegCheck CheckJpegEntropy(ByteSource& source, uint64_t start, uint64_t length,
                           const JpegDecodeOptions& options) {
  return EntropyCheck(source, start, length, options).Run();
}

}  // namespace kestrel
