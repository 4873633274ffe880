#pragma once
// Measures a TIFF-based file (TIFF, NEF, DCR, KDC, SRF, PEF, ORF) from its image file
// directories: out-of-line values, strips, sub-IFDs, the Exif IFD, the thumbnail and the maker
// note, reading the directories it needs from the source. Finds the camera maker on the way.
//
// Every walk is bounded: an IFD is measured at most once per file (chains that loop back end),
// the number of IFDs, sub-IFDs and strips per file is capped, and nothing is read outside the
// source (a structure that points past it is not followed, or rejects the file).

#include <cstdint>
#include <set>

#include "carve/formats/tiff_state.h"
#include "platform/byte_source.h"

namespace kestrel {

class TiffMeasure {
 public:
  // How an IFD's sizes are added up: plain mode sums the sizes of what it holds; offset mode
  // (sub-IFDs) reaches a file offset (the end of its strips) and adds its own sizes at the end.
  enum class Mode { kPlain, kOffset };

  struct IfdSize {
    uint64_t len = 0;    // plain: the running estimate; offset: the offset reached
    uint64_t extra = 0;  // offset mode: sizes added to the result at the end
    bool strips = false;
    uint64_t last_strip_end = 0;  // end of the strip with the largest offset
  };

  // Measures a file that starts at source sector `state.start_sector`, in the byte order of
  // `state.big_endian`, for a run with the `selected` types; records thumbnail, maker note and
  // maker flags in `state`.
  TiffMeasure(ByteSource& source, uint64_t selected, TiffState& state);

  // Measures `count` 12-byte entries. False when the file is rejected (a maker whose type is not
  // selected, an unreadable Make or Model, strip arrays outside the source).
  bool SizeIfdEntries(const uint8_t* entries, uint32_t count, Mode mode, uint64_t ifd_offset,
                      IfdSize& size);
  // Reads the Make or Model text of `entry` and sets a maker flag. False: not accepted.
  bool CheckCameraMaker(const uint8_t* entry);
  // The largest end of the IFDs listed by a SubIFDs entry (0: nothing measured).
  uint64_t SizeSubIfds(uint16_t type, uint32_t count, const uint8_t* value_field);
  // The end of one sub-IFD and the IFDs chained after it.
  uint64_t SizeSubIfd(uint64_t offset);
  // Adds the sizes of the IFD at `offset` (read within a 1024-byte window) and of every IFD
  // chained after it to `len`.
  void SizeIfdChain(uint64_t offset, uint64_t& len);
  // The estimate after the thumbnail and maker-note rule.
  uint64_t ApplyThumbnailRule(uint64_t len) const;

  // Marks the IFD at `offset` as measured. False when it was measured before (a loop) or the
  // file's IFD budget is spent.
  bool Visit(uint64_t offset);
  bool rejected() const { return rejected_; }

  static constexpr size_t kMaxIfds = 512;
  static constexpr uint32_t kMaxSubIfds = 64;
  static constexpr uint64_t kMaxStrips = uint64_t{1} << 20;

 private:
  struct Entry {
    uint16_t tag = 0;
    uint16_t type = 0;
    uint32_t count = 0;
    const uint8_t* field = nullptr;  // the 4-byte value field
  };
  Entry DecodeEntry(const uint8_t* p) const;
  uint32_t InlineValue(const Entry& e) const;
  bool AddStrips(const Entry* offsets, const Entry& counts, IfdSize& size);
  bool ReadFileBytes(uint64_t offset, void* buffer, size_t length);
  bool Reject() {
    rejected_ = true;
    return false;
  }

  ByteSource& source_;
  uint64_t selected_;
  TiffState& t_;
  bool big_;
  uint64_t file_start_;
  uint64_t file_room_;  // bytes of the source from the file's start on
  std::set<uint64_t> visited_;
  bool rejected_ = false;
};

// Bytes taken by `count` values of TIFF field type `type`.
uint64_t TiffValueSize(uint16_t type, uint32_t count);

}  // namespace kestrel
