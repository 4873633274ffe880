#include "carve/formats/tiff.h"

#include <algorithm>
#include <iterator>

#include <cctype>
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

Kept FinishTiff(const TiffState& t, const TypeSet& selected) {
  if (!t.complete) return t.always_keep ? KeepAsIs() : Drop();
  const char* const maker = MakerExtension(t);
  if (maker == nullptr && !t.orf_name && !IsSelected(selected, kTif)) return Drop();
  Kept kept = KeepAsIs();
  kept.extension = maker;
  return kept;
}

namespace {

bool EqualsIgnoringCase(const uint8_t* bytes, std::string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (std::tolower(bytes[i]) != std::tolower(static_cast<unsigned char>(text[i]))) return false;
  }
  return true;
}

bool KodakDcMark(const RowInput& r) {
  return r.h.StartsWith(0, "MM") && r.in.HasBytes(470, 8) &&
         EqualsIgnoringCase(r.in.data + 470, "Kodak DC");
}

bool OrfMark(const SectorHeader& h) {
  return h.StartsWith(2, "OR") || h.StartsWith(2, "RS");
}

bool TiffHeader(const SectorHeader& h) {
  const bool intel = h.StartsWith(0, "II");
  const bool motorola = h.StartsWith(0, "MM");
  if (!intel && !motorola) return false;
  const bool classic = intel ? h.Le16(2) == 42 : h.StartsWith(2, std::string_view("\0\x2A", 2));
  return (classic || OrfMark(h)) && h.Le32(4) >= 8;
}

}  // namespace

Match MatchKodak(const RowInput& r, Start* s) {
  if (!IsSelected(r.view.selected, kKdc) || !KodakDcMark(r)) return Match::kNo;
  const bool orf = OrfMark(r.h);
  return Opens(s, StartTiff(r.view, {orf, false, true}), orf ? "ORF" : "TIF");
}

Match MatchKodakSkip(const RowInput& r, Start*) {
  return !IsSelected(r.view.selected, kKdc) && KodakDcMark(r) ? Match::kDrop : Match::kNo;
}

Match MatchTiff(const RowInput& r, Start* s) {
  static constexpr std::string_view kExifJpegMark("\xFF\xD8\xFF\xE1\x38\x45\x45\x78\x69\x66", 10);
  const bool pattern = r.h.Contains(kExifJpegMark);
  if (!TiffHeader(r.h) && !pattern) return Match::kNo;
  const bool orf = OrfMark(r.h) || pattern;
  if (orf && !IsSelected(r.view.selected, kOrf)) return Match::kFinishAndDrop;
  const bool always_keep = r.h.StartsWith(2, "RS") || pattern;
  return Opens(s, StartTiff(r.view, {orf, always_keep, false}), orf ? "ORF" : "TIF");
}

}  // namespace kestrel
