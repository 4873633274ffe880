#pragma once
// Measures a TIFF-based file (TIFF, NEF, DCR, KDC, SRF, PEF, ORF) from its image file
// directories: the file ends at the furthest byte that any IFD references (the IFDs themselves,
// their out-of-line values, strips, tiles, sub-IFDs, the Exif, GPS and interoperability IFDs, the
// thumbnail and the maker note), reading the directories it needs from the source. Finds the
// camera maker on the way.
//
// Every walk is bounded: an IFD is measured at most once per file (chains that loop back end),
// the number of IFDs, sub-IFDs and strips or tiles per file is capped, and nothing is read outside
// the source (a structure that points past it is not followed, or rejects the file).

#include <cstdint>
#include <set>

#include "carve/formats/tiff_state.h"
#include "platform/byte_source.h"
#include "run/file_types.h"

namespace kestrel {

class TiffMeasure {
 public:
  // Measures a file that starts at source sector `state.start_sector`, in the byte order of
  // `state.big_endian`, for a run with the `selected` types; records the maker flags in `state`.
  TiffMeasure(ByteSource& source, const TypeSet& selected, TiffState& state);

  // The file's length: the furthest byte referenced from the IFD chain that starts at
  // `first_ifd`. 0 when the file is rejected (not a TIFF structure, a maker whose type is not
  // selected, an unreadable Make or Model, strip or tile arrays outside the source).
  uint64_t FileEnd(uint64_t first_ifd);

  // Reads the Make or Model text of `entry` and sets a maker flag. False: not accepted.
  bool CheckCameraMaker(const uint8_t* entry);

  bool rejected() const { return rejected_; }

  static constexpr size_t kMaxIfds = 512;
  static constexpr uint32_t kMaxSubIfds = 64;
  static constexpr uint64_t kMaxStrips = uint64_t{1} << 20;
  // Directories reached through directories (sub-IFDs of sub-IFDs, Exif inside them).
  static constexpr int kMaxDepth = 8;

 private:
  struct Entry {
    uint16_t tag = 0;
    uint16_t type = 0;
    uint32_t count = 0;
    const uint8_t* field = nullptr;  // the 4-byte value field
  };
  Entry DecodeEntry(const uint8_t* p) const;
  uint32_t InlineValue(const Entry& e) const;
  // The IFD at `offset` and every IFD chained after it.
  void WalkChain(uint64_t offset, int depth, bool first);
  // The entries of one IFD. False: the file is rejected.
  bool MeasureEntries(const uint8_t* entries, uint32_t count, int depth, bool first);
  // The IFDs listed by a SubIFDs entry.
  void WalkSubIfds(const Entry& e, int depth);
  // The data blocks of an offsets/byte-counts pair (strips or tiles).
  bool AddBlocks(const Entry* offsets, const Entry& counts);
  bool ReadFileBytes(uint64_t offset, void* buffer, size_t length);
  void Extend(uint64_t end) {
    if (end > end_) end_ = end;
  }
  bool Visit(uint64_t offset);
  bool Reject() {
    rejected_ = true;
    return false;
  }

  ByteSource& source_;
  const TypeSet& selected_;
  TiffState& t_;
  bool big_;
  uint64_t file_start_;
  uint64_t file_room_;  // bytes of the source from the file's start on
  std::set<uint64_t> visited_;
  uint64_t end_ = 0;
  uint64_t blocks_ = 0;    // strips and tiles counted so far
  bool sub_ifds_ = false;  // the file lists sub-IFDs
  bool rejected_ = false;
};

// Bytes taken by `count` values of TIFF field type `type`.
uint64_t TiffValueSize(uint16_t type, uint32_t count);

}  // namespace kestrel
