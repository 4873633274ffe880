#include "carve/formats/camera_raw.h"

#include "platform/byte_order.h"

namespace kestrel {
namespace {

// The RAF length: the two length fields before the embedded JPEG (inside this sector) whose
// TIFF header follows; 0 when there is none.
uint64_t FujiRawLength(const RowInput& r) {
  const uint8_t* d = r.in.data;
  for (uint32_t i = 8; i < r.in.count; ++i) {
    if (d[i] != 0xFF || d[i + 1] != 0xD8 || !r.in.HasBytes(i, 16)) continue;
    const bool intel = d[i + 12] == 'I' && d[i + 13] == 'I' && LoadLe16(d + i + 14) == 42;
    const bool motorola =
        d[i + 12] == 'M' && d[i + 13] == 'M' && d[i + 14] == 0 && d[i + 15] == 0x2A;
    if (!intel && !motorola) continue;
    return uint64_t{Load32(d + i - 4, motorola)} + Load32(d + i - 8, motorola);
  }
  return 0;
}

// The Minolta length: the raw image size from the PRD block plus the header. False when the
// block does not describe an image.
bool MinoltaLength(const RowInput& r, uint64_t* length) {
  const uint8_t* d = r.in.data;
  bool motorola = false;
  bool found = false;
  for (uint32_t i = 0; i < r.in.count && !found; ++i) {
    if (LoadLe16(d + i) == 0x4949 && LoadLe16(d + i + 2) == 42) {
      found = true;
    } else if (LoadLe16(d + i) == 0x4D4D && d[i + 2] == 0 && d[i + 3] == 0x2A) {
      found = motorola = true;
    }
  }
  if (!found) return false;
  const uint32_t k = Load32(d + 12, motorola);
  if (!r.in.HasBytes(k, 9)) return false;
  const uint64_t x0 = Load16(d + k, motorola);
  const uint64_t x1 = Load16(d + k + 2, motorola);
  const uint64_t x2 = Load16(d + k + 4, motorola);
  const uint64_t x3 = Load16(d + k + 6, motorola);
  const uint8_t m = d[k + 8];
  if (!(x2 < x0 && x3 < x1)) return false;
  uint64_t bytes = 0;
  if (m == 16) bytes = x0 * x1 * 2;
  if (m == 12) bytes = x0 * x1 / 2 + x0 * x1 + 65536;
  *length = bytes + Load16(d + 6, motorola) + 8;
  return true;
}

}  // namespace

Match MatchRaf(const RowInput& r, Start* s) {
  if (!r.h.Contains("FUJIFILMCCD-RAW")) return Match::kNo;
  const uint64_t length = FujiRawLength(r);
  return length == 0 ? Match::kNo : Counted(s, length);
}

Match MatchMrw(const RowInput& r, Start* s) {
  const SectorHeader& h = r.h;
  uint64_t length = 0;
  if (h[0] != 0 || !h.Contains("MRM", 1) || h.Le16(6) == 0 || !MinoltaLength(r, &length)) {
    return Match::kNo;
  }
  return Counted(s, length);
}

}  // namespace kestrel
