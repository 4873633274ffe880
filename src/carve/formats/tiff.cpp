#include "carve/formats/tiff.h"

#include <algorithm>
#include <iterator>

#include "carve/formats/tiff_measure.h"
#include "carve/structured_bytes.h"

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

// The first IFD starts at offset `a` of this sector (the header up to it is taken): measures
// the file and sets how much of it is still to come from `a` on. False: refused.
bool MeasureFromFirstIfd(TiffState& t, const CarveView& view, uint64_t a, uint64_t written) {
  const SectorInput& in = view.in;
  const bool big = t.big_endian;
  uint32_t entries = 0;
  uint64_t next_ifd = 0;
  if (in.HasBytes(a, 2)) {
    entries = Load16(in.data + a, big);
    // A table that runs past the bytes at hand (the end of the source) is measured as empty.
    if (in.HasBytes(a, uint64_t{entries} * 12 + 6)) {
      next_ifd = Load32(in.data + a + 2 + uint64_t{entries} * 12, big);
    } else {
      entries = 0;
    }
  }
  t.ifd_done = true;

  TiffMeasure measure(view.source, view.selected, t);
  const uint64_t first_ifd = t.ifd_base;
  measure.Visit(first_ifd);
  TiffMeasure::IfdSize size;
  size.len = uint64_t{entries} * 12 + 14;
  if (!measure.SizeIfdEntries(in.data + a + 2, entries, TiffMeasure::Mode::kPlain, first_ifd,
                              size)) {
    return false;
  }
  uint64_t len = size.len;
  if (next_ifd != 0) measure.SizeIfdChain(next_ifd, len);
  if (measure.rejected()) return false;
  len = measure.ApplyThumbnailRule(len);

  if (size.strips) {
    len = std::max(len, size.last_strip_end);
  } else if (next_ifd > t.ifd_base) {
    t.left = next_ifd - t.ifd_base;
    t.ifd_base = next_ifd;
  }
  // The first IFD itself always belongs to the file.
  len = std::max(len, first_ifd + uint64_t{entries} * 12 + 6);
  if (t.always_keep) len += kAlwaysKeepExtra;
  if (t.ifd_base < len) {
    t.left = len - t.ifd_base;
    t.ifd_base = len;
  }
  // A file whose estimate reaches past the source's end cannot be written whole.
  const uint64_t start = t.start_sector * kSectorBytes;
  const uint64_t size_on_source = view.source.Size();
  const uint64_t room = size_on_source > start ? size_on_source - start : 0;
  return written + t.left <= room;
}

}  // namespace

TiffState StartTiff(const CarveView& view, const TiffStart& start) {
  TiffState t;
  t.orf_name = start.orf_name;
  t.always_keep = start.always_keep;
  t.kodak_dc = start.kodak_dc;
  t.start_sector = view.in.sector;
  t.big_endian = view.in.data[0] == 'M' && view.in.data[1] == 'M';
  t.ifd_base = Load32(view.in.data + 4, t.big_endian);
  t.left = t.ifd_base;
  return t;
}

Fed FeedTiff(TiffState& t, const CarveView& view) {
  const SectorInput& in = view.in;
  if (t.ifd_done && t.left == 0) return More(0);
  const uint64_t start = t.start_sector * kSectorBytes;
  const uint64_t room = view.source.Size() > start ? view.source.Size() - start : 0;
  // A first IFD that lies past the source's end cannot be measured.
  if (!t.ifd_done && t.ifd_base + 2 > room) return Refuse();

  const uint64_t a = t.left;  // where the first IFD starts when it is in this sector
  const uint64_t head = std::min<uint64_t>(in.count, t.left);
  t.left -= head;
  uint64_t write = head;
  if (t.left == 0 && !t.ifd_done) {
    if (!MeasureFromFirstIfd(t, view, a, view.written + head)) return Refuse();
    const uint64_t rest_of_sector = in.count - a;
    const uint64_t taken = std::min(rest_of_sector, t.left);
    t.left -= taken;
    write += taken;
  }
  if (t.left != 0 || !t.ifd_done) return More(write);
  t.complete = true;
  return Complete(write);
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
