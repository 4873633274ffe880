#include "carve/formats/riff.h"

#include "carve/formats/avi_reassembly.h"
#include "carve/formats/riff_check.h"

namespace kestrel {
namespace {

// A "fmt " chunk right after "WAVE" that describes real audio.
bool WaveFormatValid(const SectorHeader& h) {
  if (!h.StartsWith(12, "fmt ") || h.Le32(16) < 16 || h.Le32(16) > 256) return false;
  const uint32_t channels = h.Le16(22), rate = h.Le32(24), block = h.Le16(32), bits = h.Le16(34);
  return h.Le16(20) != 0 && channels >= 1 && channels <= 64 && rate >= 1000 && rate <= 1536000 &&
         block != 0 && bits <= 64;
}

}  // namespace

Match MatchAiff(const RowInput& r, Start* s) {
  if (!r.h.StartsWith(0, "FORM")) return Match::kNo;
  const uint64_t length = uint64_t{r.h.Be32(4)} + 8;
  const bool audio = r.h.StartsWith(8, "AIFF") || r.h.StartsWith(8, "AIFC");
  return audio ? Sealed(s, length, CheckAiff) : Counted(s, length, false, CheckAiff);
}

Match MatchAvi(const RowInput& r, Start* s) {
  const SectorHeader& h = r.h;
  if (!h.StartsWith(0, "RIFF") || h.Le32(4) == 0 || !h.StartsWith(8, "AVI LIST")) {
    return Match::kNo;
  }
  const uint64_t length = uint64_t{h.Le32(4)} + 8;
  return h.StartsWith(20, "hdrlavih") ? Sealed(s, length, CheckAvi, ReassembleAvi)
                                      : Counted(s, length, false, CheckAvi, ReassembleAvi);
}

Match MatchWav(const RowInput& r, Start* s) {
  const SectorHeader& h = r.h;
  if (!h.StartsWith(0, "RIFF") || h.Le32(4) == 0 || !h.StartsWith(8, "WAVE")) return Match::kNo;
  const uint64_t length = uint64_t{h.Le32(4)} + 8;
  return WaveFormatValid(h) ? Sealed(s, length, CheckWav) : Counted(s, length, false, CheckWav);
}

}  // namespace kestrel
