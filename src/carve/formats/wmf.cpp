#include "carve/formats/wmf.h"

namespace kestrel {

Match MatchPlaceableWmf(const RowInput& r, Start* s) {
  const SectorHeader& h = r.h;
  if (!h.StartsWith(0, "\xD7\xCD\xC6\x9A")) return Match::kNo;
  const bool valid = h.Le16(4) == 0 && h.Le32(16) == 0 && h.Le16(22) == 1 && h.Le16(24) == 9 &&
                     h.Le32(28) != 0 && h.Le16(38) == 0;
  if (!valid) return Match::kSkipToRtf;
  return Counted(s, 2 * uint64_t{h.Le32(28)} + 22);
}

Match MatchPlainWmf(const RowInput& r, Start* s) {
  const SectorHeader& h = r.h;
  if (h.Le16(0) != 1 || h.Le16(2) != 9 || h.Le32(6) == 0 || h.Le16(16) != 0) return Match::kNo;
  return Counted(s, 2 * uint64_t{h.Le32(6)});
}

}  // namespace kestrel
