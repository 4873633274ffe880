#include "carve/formats/crw.h"

#include "platform/byte_order.h"

namespace kestrel {
namespace {

constexpr uint16_t kRawImageRecord = 0x2005;
constexpr uint64_t kRecordBytes = 10;
// The 32-bit offset of the directory that follows its records and ends the file.
constexpr uint64_t kTableOffsetBytes = 4;

// Whether the record at `p` is the raw image data at heap offset 0, inside the bytes written so
// far: the first record of the root directory.
bool IsRootRawRecord(const uint8_t* p, bool big_endian, uint64_t written) {
  return Load16(p, big_endian) == kRawImageRecord && Load32(p + 6, big_endian) == 0 &&
         Load32(p + 2, big_endian) < written;
}

Fed DirectoryTail(CrwState& state, const SectorInput& in) {
  if (state.directory_left <= in.count) {
    const uint64_t rest = state.directory_left;
    state.directory_left = 0;
    return Complete(rest);
  }
  state.directory_left -= in.count;
  return More(in.count);
}

}  // namespace

Fed FeedCrw(CrwState& state, const CarveView& view) {
  const SectorInput& in = view.in;
  if (state.in_directory) return DirectoryTail(state, in);
  for (uint32_t i = 0; i < in.count; ++i) {
    const uint8_t* record = in.data + i;
    if (!IsRootRawRecord(record, state.big_endian, view.written)) continue;
    state.in_directory = true;
    // The record count precedes the first record; for a record at the start of the sector it is
    // the previous sector's last two bytes.
    const uint16_t records = Load16(record - 2, state.big_endian);
    const uint64_t end = i + kRecordBytes * records + kTableOffsetBytes;
    if (end <= in.count) return Complete(end);
    state.directory_left = end - in.count;
    return More(in.count);
  }
  return More(in.count);
}

Kept FinishCrw(const CrwState& state) {
  return state.in_directory ? KeepAsIs() : Drop();
}

Match MatchCrw(const RowInput& r, Start* s) {
  const SectorHeader& h = r.h;
  const bool order = h.StartsWith(0, "II") || h.StartsWith(0, "MM");
  if (h.Le32(2) == 0 || !order || !h.StartsWith(6, "HEAPCCDR")) return Match::kNo;
  return Opens(s, CrwState{h.StartsWith(0, "MM")});
}

}  // namespace kestrel
