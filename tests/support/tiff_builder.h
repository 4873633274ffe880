#pragma once
// Writes small TIFF-structured camera files for the carving tests, in either byte order: IFDs
// with their out-of-line values, strips, SubIFDs, an Exif IFD, a maker note and a thumbnail,
// chained as camera makers chain them. The layout is the usual one of camera files: the
// header, every IFD followed by its out-of-line values (word aligned), then the data blocks
// (strips, thumbnails, maker notes) in the order they were added; the file ends at the end of
// the last block.

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel::testing {

class TiffBuilder {
 public:
  // `magic` is the 16-bit value after the byte-order mark: 42 for TIFF; ORF headers use the
  // bytes "RO"/"RS"/"OR" instead (pass them as {first byte, second byte}).
  explicit TiffBuilder(bool big_endian);
  void SetMagicBytes(uint8_t first, uint8_t second) { magic_ = {first, second}; }

  // A new IFD; the first one made is the file's first IFD.
  int AddIfd();
  // A data block (strip, thumbnail, maker note) placed after all IFDs.
  int AddBlock(std::vector<uint8_t> bytes);

  void Ascii(int ifd, uint16_t tag, const std::string& text);  // NUL added
  void Short(int ifd, uint16_t tag, std::vector<uint16_t> values);
  void Long(int ifd, uint16_t tag, std::vector<uint32_t> values);
  void Rational(int ifd, uint16_t tag, uint32_t numerator, uint32_t denominator);
  // A raw entry, for broken files (the value field is written as given, in file byte order).
  void RawEntry(int ifd, uint16_t tag, uint16_t type, uint32_t count, uint32_t value);

  // StripOffsets and StripByteCounts for blocks.
  void Strips(int ifd, const std::vector<int>& blocks);
  // Tags whose values are offsets of IFDs or blocks.
  void SubIfds(int ifd, const std::vector<int>& children);
  void ExifIfd(int ifd, int child);
  void Thumbnail(int ifd, int block);  // 513 offset and 514 length
  void MakerNote(int ifd, int block);  // 37500 pointing at the block
  // The next-IFD offset of `ifd`: that of IFD `next_ifd`.
  void Next(int ifd, int next_ifd);

  std::vector<uint8_t> Build() const;

 private:
  enum class RefKind { kNone, kIfd, kBlock, kPointsAtBlock };
  struct Field {
    uint16_t tag = 0;
    uint16_t type = 0;
    uint32_t count = 0;
    std::vector<uint8_t> bytes;  // value in file byte order (numbers encoded at build)
    std::vector<uint32_t> numbers;
    RefKind ref = RefKind::kNone;
    std::vector<int> targets;
    bool raw = false;
    uint32_t raw_value = 0;
  };
  struct Ifd {
    std::vector<Field> fields;
    int next = -1;
  };
  Field& Add(int ifd, uint16_t tag, uint16_t type, uint32_t count);
  std::vector<uint8_t> Encode(const Field& f) const;
  void Put16(std::vector<uint8_t>& out, size_t at, uint16_t v) const;
  void Put32(std::vector<uint8_t>& out, size_t at, uint32_t v) const;

  bool big_;
  std::vector<uint8_t> magic_;
  std::vector<Ifd> ifds_;
  std::vector<std::vector<uint8_t>> blocks_;
  mutable std::vector<uint32_t> ifd_offsets_, block_offsets_;
};

// `n` bytes of a repeatable pattern (distinct per seed), for strips and blocks.
std::vector<uint8_t> PatternBytes(size_t n, uint8_t seed);

}  // namespace kestrel::testing
