#include "carve/crw.h"

namespace kestrel {
namespace {

constexpr uint16_t kRawImageRecord = 0x2005;
constexpr uint64_t kRecordBytes = 10;
// The 32-bit offset of the directory that follows its records and ends the file.
constexpr uint64_t kTableOffsetBytes = 4;

uint16_t Read16(const uint8_t* p, bool big_endian) {
  return big_endian ? static_cast<uint16_t>((p[0] << 8) | p[1])
                    : static_cast<uint16_t>((p[1] << 8) | p[0]);
}

uint32_t Read32(const uint8_t* p, bool big_endian) {
  return big_endian
             ? (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3]
             : (uint32_t{p[3]} << 24) | (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
}

// Whether the record at `p` is the raw image data at heap offset 0, inside the bytes written so
// far: the first record of the root directory.
bool IsRootRawRecord(const uint8_t* p, const CarveState& st) {
  return Read16(p, st.big_endian) == kRawImageRecord && Read32(p + 6, st.big_endian) == 0 &&
         Read32(p + 2, st.big_endian) < st.byte_count;
}

void FinishCrw(CarveSession& s) {
  CarveState& st = s.st;
  st.jfif_walk = false;
  st.tiff.ifd_done = false;
  st.picture_open = false;
  st.crw_open = false;
  st.file_complete = false;
  s.CloseAndList();
}

// Tail mode: `byte_count` directory bytes are still to come.
void CopyDirectoryTail(CarveSession& s, const SectorInput& in) {
  CarveState& st = s.st;
  if (st.byte_count <= in.count) {
    s.Write(in, static_cast<size_t>(st.byte_count));
    st.byte_count = 0;
    FinishCrw(s);
    return;
  }
  s.Write(in, in.count);
  st.byte_count -= in.count;
}

}  // namespace

void CarveCrw(CarveSession& s, const SectorInput& in) {
  CarveState& st = s.st;
  if (!st.file_open) return;
  if (st.file_complete) {
    CopyDirectoryTail(s, in);
    return;
  }
  for (uint32_t i = 0; i < in.count; ++i) {
    const uint8_t* record = in.data + i;
    if (!IsRootRawRecord(record, st)) continue;
    st.file_complete = true;
    // The record count precedes the first record; for a record at the start of the sector it is
    // the previous sector's last two bytes.
    const uint16_t records = Read16(record - 2, st.big_endian);
    const uint64_t end = i + kRecordBytes * records + kTableOffsetBytes;
    if (end <= in.count) {
      s.Write(in, static_cast<size_t>(end));
      FinishCrw(s);
    } else {
      s.Write(in, in.count);
      st.byte_count = end - in.count;
    }
    return;
  }
  s.Write(in, in.count);
  st.byte_count += in.count;
}

}  // namespace kestrel
