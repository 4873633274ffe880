#include "carve/x3f.h"

#include <algorithm>
#include <cstring>

namespace kestrel {
namespace {

// "SECd", version and entry count, then 12 bytes per entry, then the 32-bit directory offset
// that ends the file.
constexpr uint64_t kDirectoryOverhead = 16;
constexpr uint64_t kEntryBytes = 12;

uint32_t ReadLe32(const uint8_t* p) {
  return (uint32_t{p[3]} << 24) | (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
}

void FinishX3f(CarveSession& s) {
  CarveState& st = s.st;
  st.file_complete = false;
  st.picture_open = false;
  st.x3f_open = false;
  st.x3f_tail = 0;
  s.CloseAndList();
}

void WriteCounted(CarveSession& s, const SectorInput& in, uint64_t length) {
  s.Write(in, static_cast<size_t>(length));
  s.st.byte_count += length;
}

// The directory runs on into this sector for `x3f_tail` more bytes.
void CopyDirectoryTail(CarveSession& s, const SectorInput& in) {
  CarveState& st = s.st;
  const uint64_t length = std::min<uint64_t>(st.x3f_tail, in.count);
  WriteCounted(s, in, length);
  st.x3f_tail -= length;
  if (st.x3f_tail == 0) FinishX3f(s);
}

// Offset of the first "SECd" that starts in the sector (it may run into the following bytes),
// or `in.count` when there is none.
uint32_t FindDirectory(const SectorInput& in) {
  for (uint32_t i = 0; i < in.count; ++i) {
    if (std::memcmp(in.data + i, "SECd", 4) == 0) return i;
  }
  return in.count;
}

}  // namespace

void CarveX3f(CarveSession& s, const SectorInput& in) {
  CarveState& st = s.st;
  if (!st.file_open) return;
  if (st.x3f_tail != 0) {
    CopyDirectoryTail(s, in);
    return;
  }
  const uint32_t start = FindDirectory(in);
  if (start == in.count) {
    WriteCounted(s, in, in.count);
    return;
  }
  const uint64_t entries = ReadLe32(in.data + start + 8);
  const uint64_t end = start + kEntryBytes * entries + kDirectoryOverhead;
  if (end <= in.count) {
    WriteCounted(s, in, end);
    FinishX3f(s);
    return;
  }
  WriteCounted(s, in, in.count);
  st.x3f_tail = end - in.count;
}

}  // namespace kestrel
