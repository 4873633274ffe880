#include "carve/formats/tiff.h"

#include <algorithm>
#include <iterator>

#include "carve/formats/tiff_measure.h"
#include "platform/byte_order.h"

namespace kestrel {
namespace {

// Bytes that the header variant with "RS" (and the JPEG form of ORF) adds to its estimate.
constexpr uint64_t kAlwaysKeepExtra = 5584;

// The extension of the camera maker found, tested in the order NEF, KDC, DCR, SRF, PEF; null
// when no maker was recognised.
const char* MakerExtension(const TiffState& t) {
  const bool kodak = t.maker_kodak;
  const char* const candidates[] = {"NEF", "KDC", "DCR", "SRF", "PEF"};
  const bool found[] = {t.maker_nikon, kodak && t.kodak_dc, kodak && !t.kodak_dc, t.maker_sony,
                        t.maker_pentax};
  for (size_t i = 0; i < std::size(found); ++i) {
    if (found[i]) return candidates[i];
  }
  return nullptr;
}

// Measures the file from its IFDs, read from the source: its length, 0 when it is refused (not
// measurable, or reaching past the source's end, so that it cannot be written whole).
uint64_t MeasuredLength(TiffState& t, const CarveView& view) {
  const uint64_t room = view.SourceRoom();
  // A first IFD that lies past the source's end cannot be measured.
  if (t.first_ifd + 2 > room) return 0;
  TiffMeasure measure(view.source, view.selected, t);
  uint64_t length = measure.FileEnd(t.first_ifd);
  if (length == 0) return 0;
  if (t.always_keep) length += kAlwaysKeepExtra;
  return length <= room ? length : 0;
}

}  // namespace

TiffState StartTiff(const CarveView& view, const TiffStart& start) {
  TiffState t;
  t.orf_name = start.orf_name;
  t.always_keep = start.always_keep;
  t.kodak_dc = start.kodak_dc;
  t.start_sector = view.in.sector;
  t.big_endian = view.in.data[0] == 'M' && view.in.data[1] == 'M';
  t.first_ifd = Load32(view.in.data + 4, t.big_endian);
  return t;
}

Fed FeedTiff(TiffState& t, const CarveView& view) {
  if (!t.measured) {
    t.left = MeasuredLength(t, view);
    if (t.left == 0) return Refuse();
    t.measured = true;
  }
  const uint64_t take = std::min<uint64_t>(view.in.count, t.left);
  t.left -= take;
  if (t.left != 0) return More(take);
  t.complete = true;
  return Complete(take);
}

Kept FinishTiff(const TiffState& t, uint64_t selected) {
  if (!t.complete) return t.always_keep ? KeepAsIs() : Drop();
  const char* const maker = MakerExtension(t);
  if (maker == nullptr && !t.orf_name && !IsSelected(selected, kTif)) return Drop();
  Kept kept = KeepAsIs();
  kept.extension = maker;
  return kept;
}

}  // namespace kestrel
