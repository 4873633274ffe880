#include "carve/tiff_raw.h"

#include <algorithm>
#include <iterator>

#include "carve/structured_bytes.h"
#include "carve/structured_output.h"
#include "carve/tiff_measure.h"
#include "platform/sector_size.h"

namespace kestrel {
namespace {

// Bytes that the header variant with "RS" (and the JPEG form of ORF) adds to its estimate.
constexpr uint64_t kAlwaysKeepExtra = 5584;

// The extension of the camera maker found, tested in the order NEF, KDC, DCR, SRF, PEF; null
// when no maker was recognised.
const char* MakerExtension(const CarveState& st) {
  const TiffState& t = st.tiff;
  const bool kodak = t.maker_kodak;
  const char* const candidates[] = {"NEF", "KDC", "DCR", "SRF", "PEF"};
  const bool found[] = {t.maker_nikon, kodak && st.kodak_dc, kodak && !st.kodak_dc, t.maker_sony,
                        t.maker_pentax};
  for (size_t i = 0; i < std::size(found); ++i) {
    if (found[i]) return candidates[i];
  }
  return nullptr;
}

bool Refuse(CarveSession& s) {
  DiscardOpenFile(s);
  s.st.tiff.ifd_done = false;
  s.st.always_keep = false;
  s.st.byte_count = 0;
  return false;
}

uint64_t SourceRoomFrom(CarveSession& s, uint64_t sector) {
  const uint64_t start = sector * kSectorBytes;
  const uint64_t size = s.source().Size();
  return size > start ? size - start : 0;
}

// The first IFD starts at offset `a` of this sector (the header up to it is written): measures
// the file and writes the rest of the sector that belongs to it. False: refused.
bool MeasureFromFirstIfd(CarveSession& s, const SectorInput& in, uint64_t a) {
  CarveState& st = s.st;
  TiffState& t = st.tiff;
  const bool big = st.big_endian;
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

  TiffMeasure measure(s);
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
    st.byte_count = next_ifd - t.ifd_base;
    t.ifd_base = next_ifd;
  }
  // The first IFD itself always belongs to the file.
  len = std::max(len, first_ifd + uint64_t{entries} * 12 + 6);
  if (st.always_keep) len += kAlwaysKeepExtra;
  if (t.ifd_base < len) {
    st.byte_count = len - t.ifd_base;
    t.ifd_base = len;
  }
  // A file whose estimate reaches past the source's end cannot be written whole.
  if (s.out().Length() + st.byte_count > SourceRoomFrom(s, t.start_sector)) return false;

  const uint64_t rest_of_sector = in.count - a;
  if (rest_of_sector < st.byte_count) {
    s.Write(in.data + a, rest_of_sector);
    st.byte_count -= rest_of_sector;
  } else {
    s.Write(in.data + a, st.byte_count);
    st.byte_count = 0;
  }
  return true;
}

void FinishTiffFile(CarveSession& s, uint8_t type_code) {
  CarveState& st = s.st;
  st.jfif_walk = false;
  st.tiff.ifd_done = false;
  st.picture_open = false;
  st.raw_open = false;
  const char* const maker = MakerExtension(st);
  const bool has_maker = maker != nullptr;
  const bool keep = has_maker || st.orf_name || IsSelected(s, kTif);
  st.always_keep = false;
  if (!keep) {
    DiscardOpenFile(s);
    return;
  }
  const uint64_t length = s.out().Length();
  std::string path = s.path();
  if (!CloseWithoutListing(s)) {
    s.ClearOpenFlags();
    return;
  }
  if (type_code == kTif && has_maker) {
    std::string renamed = s.MoveToExtension(path, maker);
    if (!renamed.empty()) path = renamed;
  }
  ListKeptFile(s, path, length);
  st.file_complete = false;
  s.ClearOpenFlags();
}

}  // namespace

void StartTiffRaw(CarveSession& s, const SectorInput& in) {
  CarveState& st = s.st;
  st.tiff = TiffState{};
  st.tiff.start_sector = in.sector;
  st.big_endian = in.data[0] == 'M' && in.data[1] == 'M';
  st.tiff.ifd_base = Load32(in.data + 4, st.big_endian);
  st.byte_count = st.tiff.ifd_base;
}

bool CarveTiffRaw(CarveSession& s, const SectorInput& in, uint8_t type_code) {
  CarveState& st = s.st;
  TiffState& t = st.tiff;
  // A first IFD that lies past the source's end cannot be measured.
  if (!t.ifd_done && t.ifd_base + 2 > SourceRoomFrom(s, t.start_sector)) return Refuse(s);

  const uint64_t a = st.byte_count;  // where the first IFD starts when it is in this sector
  const uint64_t head = std::min<uint64_t>(in.count, st.byte_count);
  s.Write(in.data, head);
  st.byte_count -= head;
  if (st.byte_count == 0 && !t.ifd_done && !MeasureFromFirstIfd(s, in, a)) return Refuse(s);
  if (st.byte_count == 0 && t.ifd_done) FinishTiffFile(s, type_code);
  return true;
}

}  // namespace kestrel
