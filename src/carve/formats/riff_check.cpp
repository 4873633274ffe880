#include "carve/formats/riff_check.h"

#include <initializer_list>

#include "carve/formats/source_window.h"
#include "platform/byte_order.h"

namespace kestrel {
namespace {

constexpr size_t kWindowBytes = 64 * 1024;
// Index lookups jump to chunks one by one: a small window reads little for each.
constexpr size_t kLookupBytes = 1024;
constexpr uint64_t kLookupSlack = uint64_t{64} << 20;
constexpr int kMaxDepth = 8;
constexpr uint64_t kHeaderBytes = 8;
constexpr uint64_t kIndexHeaderBytes = 24;  // of an OpenDML index, after the chunk header
constexpr uint64_t kAvihBytes = 56;
constexpr uint64_t kWaveFormatBytes = 14;
constexpr uint64_t kCommBytes = 18;

// A four-character code as its bytes read in file order.
constexpr uint32_t Code(const char (&text)[5]) {
  return uint32_t{uint8_t(text[0])} | uint32_t{uint8_t(text[1])} << 8 |
         uint32_t{uint8_t(text[2])} << 16 | uint32_t{uint8_t(text[3])} << 24;
}
constexpr uint32_t kRiff = Code("RIFF"), kList = Code("LIST"), kForm = Code("FORM");
constexpr uint32_t kAvi = Code("AVI "), kAvix = Code("AVIX"), kWave = Code("WAVE");
constexpr uint32_t kAiff = Code("AIFF"), kAifc = Code("AIFC");
constexpr uint32_t kHdrl = Code("hdrl"), kMovi = Code("movi"), kRec = Code("rec ");
constexpr uint32_t kAvih = Code("avih"), kIdx1 = Code("idx1"), kIndx = Code("indx");
constexpr uint32_t kFmt = Code("fmt "), kData = Code("data");
constexpr uint32_t kComm = Code("COMM"), kSsnd = Code("SSND");
constexpr uint16_t kIx = 'i' | 'x' << 8;

struct Chunk {
  uint64_t at = 0;  // of its header
  uint32_t id = 0;
  uint32_t size = 0;  // of its data
  uint32_t type = 0;  // a list's type
  uint64_t data() const { return at + kHeaderBytes; }
};

// Walks the chunks of a RIFF (little-endian sizes) or IFF (big-endian) file and hands each to
// the format's Visit before the children of a list.
class ChunkWalk {
 public:
  ChunkWalk(ByteSource& source, uint64_t start, uint64_t length, bool big_endian)
      : window_(source, start, length, kWindowBytes), big_endian_(big_endian) {}
  virtual ~ChunkWalk() = default;

 protected:
  // kYes to go on; kNo or kUnchecked end the walk with that verdict.
  virtual Whole Visit(const Chunk& chunk, uint32_t parent) = 0;

  // The outer chunk at `at`: `magic`, a stated size inside the file and one of `types`. Its
  // chunks are walked; `end` is set to where it ends.
  Whole WalkOuter(uint64_t at, uint32_t magic, std::initializer_list<uint32_t> types,
                  uint64_t& end) {
    uint8_t head[12];
    if (!window_.Padded(at, head, sizeof head)) return Whole::kUnchecked;
    const uint64_t size = Load32(head + 4, big_endian_);
    bool typed = false;
    for (const uint32_t type : types) typed = typed || LoadLe32(head + 8) == type;
    const uint64_t room = window_.length() - at;
    if (LoadLe32(head) != magic || !typed || size < 4 || room < kHeaderBytes ||
        size > room - kHeaderBytes) {
      return Whole::kNo;
    }
    if (++chunks_ > kMaxRiffCheckChunks) return Whole::kUnchecked;
    end = at + kHeaderBytes + size;
    return Walk(at + 12, end, LoadLe32(head + 8), 0);
  }

  // The file as one outer chunk (of `magic` and one of `types`) that ends at the file's end.
  Whole WalkFile(uint32_t magic, std::initializer_list<uint32_t> types) {
    uint64_t end = 0;
    const Whole verdict = WalkOuter(0, magic, types, end);
    if (verdict != Whole::kYes) return verdict;
    return end == window_.length() ? Whole::kYes : Whole::kNo;
  }

  SourceWindow window_;
  const bool big_endian_;

 private:
  // The chunks of [at, end), inside a list of type `parent`.
  Whole Walk(uint64_t at, uint64_t end, uint32_t parent, int depth) {
    if (depth > kMaxDepth) return Whole::kUnchecked;
    while (at < end) {
      if (end - at < kHeaderBytes) return Whole::kNo;
      const uint8_t* p = window_.At(at, kHeaderBytes);
      if (p == nullptr) return Unreached(window_);
      Chunk chunk{at, LoadLe32(p), Load32(p + 4, big_endian_)};
      if (!IsRiffChunkId(p) || chunk.size > end - at - kHeaderBytes) return Whole::kNo;
      if (++chunks_ > kMaxRiffCheckChunks) return Whole::kUnchecked;
      const bool list = chunk.id == kList;
      if (list) {
        const uint8_t* type = chunk.size >= 4 ? window_.At(chunk.data(), 4) : nullptr;
        if (type == nullptr) return Unreached(window_);
        chunk.type = LoadLe32(type);
      }
      Whole verdict = Visit(chunk, parent);
      if (verdict == Whole::kYes && list) {
        verdict = Walk(chunk.data() + 4, chunk.data() + chunk.size, chunk.type, depth + 1);
      }
      if (verdict != Whole::kYes) return verdict;
      at = Next(chunk, end);
      if (window_.failed()) return Whole::kUnchecked;
    }
    return Whole::kYes;
  }

  // Where the chunk after `chunk` starts: after its pad byte when its size is odd, or right
  // after its data when it ends its list or when a writer left the pad byte out (a chunk header
  // stands there and none after the pad byte).
  uint64_t Next(const Chunk& chunk, uint64_t end) {
    const uint64_t data_end = chunk.data() + chunk.size;
    if ((chunk.size & 1) == 0 || data_end == end) return data_end;
    if (!HeaderAt(data_end + 1, end) && HeaderAt(data_end, end)) return data_end;
    return data_end + 1;
  }

  // A chunk header that fits in [at, end), or the list's end.
  bool HeaderAt(uint64_t at, uint64_t end) {
    if (at == end) return true;
    if (end - at < kHeaderBytes) return false;
    const uint8_t* p = window_.At(at, kHeaderBytes);
    return p != nullptr && IsRiffChunkId(p) &&
           Load32(p + 4, big_endian_) <= end - at - kHeaderBytes;
  }

  uint32_t chunks_ = 0;
};

class AviCheck : public ChunkWalk {
 public:
  AviCheck(ByteSource& source, uint64_t start, uint64_t length)
      : ChunkWalk(source, start, length, false), lookup_(source, start, length, kLookupBytes) {}

  Whole Run() {
    const uint64_t length = window_.length();
    uint64_t end = 0;
    Whole verdict = WalkOuter(0, kRiff, {kAvi}, end);
    // An OpenDML file goes on with RIFF-AVIX chunks.
    while (verdict == Whole::kYes && end < length) verdict = WalkOuter(end, kRiff, {kAvix}, end);
    if (verdict != Whole::kYes) return verdict;
    return hdrl_ && movi_ != 0 ? Whole::kYes : Whole::kNo;
  }

 private:
  Whole Visit(const Chunk& chunk, uint32_t parent) override {
    if (chunk.id == kList && chunk.type == kHdrl) hdrl_ = true;
    if (chunk.id == kList && chunk.type == kMovi && movi_ == 0) movi_ = chunk.data();
    if (chunk.id == kAvih && chunk.size < kAvihBytes) return Whole::kNo;
    if (chunk.id == kIdx1 && parent == kAvi) return CheckIdx1(chunk);
    const bool in_movie = parent == kMovi || parent == kRec;
    const bool ix = (chunk.id & 0xFFFF) == kIx || (chunk.id >> 16) == kIx;
    if (chunk.id == kIndx || (in_movie && ix)) return CheckIndex(chunk);
    return Whole::kYes;
  }

  // The idx1 entries: each points at a chunk of its id and size.
  Whole CheckIdx1(const Chunk& idx1) {
    if (movi_ == 0) return Whole::kNo;
    uint64_t base = 0;
    for (uint64_t k = 0; k < idx1.size / 16; ++k) {
      const uint8_t* entry = window_.At(idx1.data() + 16 * k, 16);
      if (entry == nullptr) return Unreached(window_);
      const uint32_t id = LoadLe32(entry), offset = LoadLe32(entry + 8);
      const uint32_t size = LoadLe32(entry + 12);
      if (++entries_ > kMaxRiffIndexEntries) return Whole::kUnchecked;
      if (k == 0) {
        // Offsets count from the movi list's type, from the file's start, or (some writers)
        // from the movi list's first chunk.
        Whole found = Whole::kNo;
        for (const uint64_t from : {movi_, uint64_t{0}, movi_ + 4}) {
          found = ChunkAt(from + offset, id, size);
          base = from;
          if (found != Whole::kNo) break;
        }
        if (found != Whole::kYes) return found;
        continue;
      }
      const Whole found = ChunkAt(base + offset, id, size);
      if (found != Whole::kYes) return found;
    }
    return Whole::kYes;
  }

  // An OpenDML index: a super index's entries point at standard indexes, a standard index's at
  // the chunks of its stream (offsets from its base, to the chunk's data).
  Whole CheckIndex(const Chunk& index) {
    if (index.size < kIndexHeaderBytes) return Whole::kNo;
    const uint8_t* head = window_.At(index.data(), kIndexHeaderBytes);
    if (head == nullptr) return Unreached(window_);
    const uint16_t longs = LoadLe16(head);
    const uint8_t kind = head[3];
    const uint32_t used = LoadLe32(head + 4), stream = LoadLe32(head + 8);
    const uint64_t base = LoadLe64(head + 12);
    const bool super = kind == 0 && longs == 4;
    if (!super && !(kind == 1 && longs == 2)) return Whole::kYes;  // a kind not followed
    const uint64_t entry_bytes = uint64_t{longs} * 4;
    if (used > (index.size - kIndexHeaderBytes) / entry_bytes) return Whole::kNo;
    const uint64_t length = window_.length();
    for (uint64_t k = 0; k < used; ++k) {
      if (++entries_ > kMaxRiffIndexEntries) return Whole::kUnchecked;
      const uint64_t at = index.data() + kIndexHeaderBytes + k * entry_bytes;
      const uint8_t* entry = window_.At(at, static_cast<size_t>(entry_bytes));
      if (entry == nullptr) return Unreached(window_);
      Whole found = Whole::kNo;
      if (super) {
        found = StandardIndexAt(LoadLe64(entry));
      } else {
        const uint32_t offset = LoadLe32(entry), size = LoadLe32(entry + 4) & 0x7FFFFFFF;
        // The entry gives the chunk's data; its header lies 8 bytes before.
        if (base > length || offset > length - base || base + offset < kHeaderBytes) {
          return Whole::kNo;
        }
        found = ChunkAt(base + offset - kHeaderBytes, stream, size);
      }
      if (found != Whole::kYes) return found;
    }
    return Whole::kYes;
  }

  // A standard index chunk at `at`.
  Whole StandardIndexAt(uint64_t at) {
    const uint8_t* p = lookup_.At(at, kHeaderBytes + 4);
    if (p == nullptr) return Unreached(lookup_);
    return IsRiffChunkId(p) && LoadLe16(p + 8) == 2 && p[11] == 1 ? Whole::kYes : Whole::kNo;
  }

  // A chunk of `id` and `size` at `at`, or a list of type `id` (an index entry for a 'rec '
  // list names its type).
  Whole ChunkAt(uint64_t at, uint32_t id, uint32_t size) {
    if (lookup_.bytes_read() > window_.length() + kLookupSlack) return Whole::kUnchecked;
    const uint8_t* p = lookup_.At(at, kHeaderBytes);
    if (p == nullptr) return Unreached(lookup_);
    if (LoadLe32(p) == id) return LoadLe32(p + 4) == size ? Whole::kYes : Whole::kNo;
    if (LoadLe32(p) != kList) return Whole::kNo;
    const uint8_t* type = lookup_.At(at + kHeaderBytes, 4);
    if (type == nullptr) return Unreached(lookup_);
    return LoadLe32(type) == id ? Whole::kYes : Whole::kNo;
  }

  SourceWindow lookup_;
  bool hdrl_ = false;
  uint64_t movi_ = 0;  // offset of the first movi list's type
  uint32_t entries_ = 0;
};

class WaveCheck : public ChunkWalk {
 public:
  WaveCheck(ByteSource& source, uint64_t start, uint64_t length)
      : ChunkWalk(source, start, length, false) {}

  Whole Run() {
    const Whole verdict = WalkFile(kRiff, {kWave});
    if (verdict != Whole::kYes) return verdict;
    return format_ && data_ ? Whole::kYes : Whole::kNo;
  }

 private:
  Whole Visit(const Chunk& chunk, uint32_t parent) override {
    if (parent != kWave) return Whole::kYes;
    if (chunk.id == kData) data_ = true;
    if (chunk.id != kFmt) return Whole::kYes;
    if (chunk.size < kWaveFormatBytes) return Whole::kNo;
    const uint8_t* p = window_.At(chunk.data(), kWaveFormatBytes);
    if (p == nullptr) return Unreached(window_);
    // Channels, sample rate and block size.
    format_ = LoadLe16(p + 2) != 0 && LoadLe32(p + 4) != 0 && LoadLe16(p + 12) != 0;
    return format_ ? Whole::kYes : Whole::kNo;
  }

  bool format_ = false, data_ = false;
};

class AiffCheck : public ChunkWalk {
 public:
  AiffCheck(ByteSource& source, uint64_t start, uint64_t length)
      : ChunkWalk(source, start, length, true) {}

  Whole Run() {
    const Whole verdict = WalkFile(kForm, {kAiff, kAifc});
    if (verdict != Whole::kYes) return verdict;
    if (!common_) return Whole::kNo;
    // Uncompressed sound: the sound data holds every sample frame.
    const uint64_t needed = uint64_t{frames_} * channels_ * ((sample_bits_ + 7u) / 8);
    return compressed_ || frames_ == 0 || sound_bytes_ >= needed ? Whole::kYes : Whole::kNo;
  }

 private:
  Whole Visit(const Chunk& chunk, uint32_t parent) override {
    if (parent != kAiff && parent != kAifc) return Whole::kYes;
    compressed_ = parent == kAifc;
    if (chunk.id == kComm) {
      const uint8_t* p = chunk.size >= kCommBytes ? window_.At(chunk.data(), kCommBytes) : nullptr;
      if (p == nullptr) return chunk.size < kCommBytes ? Whole::kNo : Unreached(window_);
      channels_ = LoadBe16(p);
      frames_ = LoadBe32(p + 2);
      sample_bits_ = LoadBe16(p + 6);
      common_ = channels_ != 0 && sample_bits_ >= 1 && sample_bits_ <= 32;
      return common_ ? Whole::kYes : Whole::kNo;
    }
    if (chunk.id == kSsnd) {
      const uint8_t* p = chunk.size >= 8 ? window_.At(chunk.data(), 8) : nullptr;
      if (p == nullptr) return chunk.size < 8 ? Whole::kNo : Unreached(window_);
      const uint32_t offset = LoadBe32(p);
      if (offset > chunk.size - 8) return Whole::kNo;
      sound_bytes_ = chunk.size - 8 - offset;
    }
    return Whole::kYes;
  }

  bool common_ = false, compressed_ = false;
  uint16_t channels_ = 0, sample_bits_ = 0;
  uint32_t frames_ = 0;
  uint64_t sound_bytes_ = 0;
};

}  // namespace

Whole CheckAvi(ByteSource& source, uint64_t start, uint64_t length) {
  return AviCheck(source, start, length).Run();
}

Whole CheckWav(ByteSource& source, uint64_t start, uint64_t length) {
  return WaveCheck(source, start, length).Run();
}

Whole CheckAiff(ByteSource& source, uint64_t start, uint64_t length) {
  return AiffCheck(source, start, length).Run();
}

}  // namespace kestrel
