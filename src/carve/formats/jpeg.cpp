#include "carve/formats/jpeg.h"

#include <cstring>

#include "carve/formats/jpeg_entropy.h"
#include "carve/formats/jpeg_reassembly.h"
#include "platform/byte_order.h"
#include "platform/sector_size.h"

namespace kestrel {
namespace {

// What one step of the walk found.
enum class Walk : uint8_t {
  kOn,      // the walk goes on at state.next
  kWait,    // the bytes it needs lie past the source's end: the file is not whole
  kRefuse,  // not a valid marker structure
  kEnd,     // the EOI: the file ends at state.next
};

bool IsFrameHeader(uint8_t code) {
  // SOF0-SOF15 except DHT (C4), JPG (C8) and DAC (CC).
  return code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC;
}

bool IsLossless(uint8_t code) {
  return code == 0xC3 || code == 0xC7 || code == 0xCB || code == 0xCF;
}

// Markers followed by a length field that may appear between the SOI and the EOI.
bool HasLength(uint8_t code) {
  return IsFrameHeader(code) || code == 0xC4 || code == 0xCC || (code >= 0xDA && code <= 0xDF) ||
         (code >= 0xE0 && code <= 0xEF) || code == 0xFE;
}

// Checks the segment `code` of `length` bytes (its length field included) at `m` (the marker)
// and records what it defines. False when it is not valid where it stands.
bool TakeSegment(JpegState& s, uint8_t code, const uint8_t* m, uint32_t length) {
  const uint8_t* body = m + 4;
  if (IsFrameHeader(code)) {
    // Precision, height, width, component count, then three bytes per component.
    if (s.frame || length < 8) return false;
    const uint32_t components = body[5];
    if (components == 0 || length != 8 + 3 * components || LoadBe16(body + 3) == 0) return false;
    s.frame = true;
    s.lossless = IsLossless(code);
    return true;
  }
  switch (code) {
    case 0xC4:  // DHT: table class 0/1, table id 0-3
      if (length < 3 || (body[0] & 0xEC) != 0) return false;
      s.coding = true;
      return true;
    case 0xCC:  // DAC
      s.coding = true;
      return true;
    case 0xDB:  // DQT: precision 0/1, table id 0-3
      if (length < 3 || (body[0] & 0xEC) != 0) return false;
      s.quant = true;
      return true;
    case 0xDA: {  // SOS: a scan needs its frame header and tables first
      if (!s.frame || !s.coding || !(s.quant || s.lossless) || length < 3) return false;
      const uint32_t components = body[0];
      return components >= 1 && components <= 4 && length == 6 + 2 * components;
    }
    case 0xDC:  // DNL
    case 0xDD:  // DRI
      return length == 4;
    default:  // DHP, EXP, APPn, COM
      return true;
  }
}

// Entries of a multi-picture index read at most; cameras write two to a few.
constexpr uint32_t kMaxMpfEntries = 64;
constexpr uint16_t kTagMpEntry = 0xB002;

// Records the furthest image named by the multi-picture index whose TIFF structure is `tiff`
// (`size` bytes, at file offset `base`, to which its image offsets are relative); nothing when it
// names none or is not valid.
void TakeMpfIndex(JpegState& s, const uint8_t* tiff, uint32_t size, uint64_t base) {
  if (size < 8) return;
  const bool big = tiff[0] == 'M' && tiff[1] == 'M';
  if (!big && !(tiff[0] == 'I' && tiff[1] == 'I')) return;
  if (Load16(tiff + 2, big) != 42) return;
  const uint64_t ifd = Load32(tiff + 4, big);
  if (ifd + 2 > size) return;
  const uint32_t n = Load16(tiff + ifd, big);
  if (ifd + 2 + uint64_t{n} * 12 > size) return;
  for (uint32_t k = 0; k < n; ++k) {
    const uint8_t* e = tiff + ifd + 2 + 12 * k;
    if (Load16(e, big) != kTagMpEntry) continue;
    const uint32_t count = Load32(e + 4, big);
    const uint64_t at = Load32(e + 8, big);
    if (count % 16 != 0 || count / 16 > kMaxMpfEntries || at + count > size) return;
    for (uint32_t i = 0; i < count / 16; ++i) {
      const uint8_t* entry = tiff + at + 16 * i;
      const uint64_t image_size = Load32(entry + 4, big);
      const uint64_t offset = Load32(entry + 8, big);
      if (offset == 0 || image_size == 0 || base + offset + image_size <= s.mpf_end) continue;
      s.mpf_end = base + offset + image_size;
      s.mpf_last_start = base + offset;
    }
    return;
  }
}

// Records the images of an APP2 "MPF" segment of `length` bytes at `at` of the sector (file offset
// `at_file`).
void TakeMpf(JpegState& s, const SectorInput& in, uint32_t at, uint64_t at_file, uint32_t length) {
  if (length < 2 + 4 + 8 || !in.HasBytes(at, 2 + length)) return;
  const uint8_t* body = in.data + at + 4;
  if (std::memcmp(body, "MPF\0", 4) != 0) return;
  TakeMpfIndex(s, body + 4, length - 6, at_file + 8);
}

// Whether the images that the multi-picture index names lie after the EOI, inside the source
// and the size bound, the last of them starting with an SOI; `file_start` is the file's first
// byte on the source.
bool MpfImagesPresent(const JpegState& s, ByteSource& source, uint64_t file_start) {
  if (s.mpf_end <= s.next || s.mpf_last_start < s.next || s.mpf_end > kJpegSizeCap) return false;
  if (file_start + s.mpf_end > source.Size()) return false;
  uint8_t soi[2];
  return source.ReadExact(file_start + s.mpf_last_start, soi, 2) && soi[0] == 0xFF &&
         soi[1] == 0xD8;
}

// The marker at `at` of the sector (file offset base + at).
Walk TakeMarker(JpegState& s, const SectorInput& in, uint64_t base, uint32_t at) {
  if (!in.HasBytes(at, 2)) return Walk::kWait;
  const uint8_t* m = in.data + at;
  if (m[0] != 0xFF) return Walk::kRefuse;
  const uint8_t code = m[1];
  if (code == 0xFF) {  // a fill byte before the marker
    s.next = base + at + 1;
    return Walk::kOn;
  }
  if (code == 0xD9) {
    if (!s.scanned) return Walk::kRefuse;
    s.next = base + at + 2;
    return Walk::kEnd;
  }
  // SOI again, RSTn outside a scan, TEM, JPG, JPGn and reserved codes: not this file's structure.
  if (!HasLength(code)) return Walk::kRefuse;
  if (!in.HasBytes(at, 4)) return Walk::kWait;
  const uint32_t length = LoadBe16(m + 2);
  if (length < 2) return Walk::kRefuse;
  // Frame and scan headers are checked field by field (at most 4 + 3 * 255 bytes, inside the
  // look-ahead); other segments only by their length.
  const bool checked = IsFrameHeader(code) || code == 0xDA;
  if (checked && !in.HasBytes(at, 2 + length)) return Walk::kWait;
  if (!TakeSegment(s, code, m, length)) return Walk::kRefuse;
  if (code == 0xE2) TakeMpf(s, in, at, base + at, length);
  s.next = base + at + 2 + length;
  if (code == 0xDA) {
    s.in_scan = true;
    s.scanned = true;
  }
  return Walk::kOn;
}

// Entropy-coded data from `at`: skips to the next marker that is not stuffing or a restart.
Walk TakeEntropy(JpegState& s, const SectorInput& in, uint64_t base, uint32_t at) {
  const uint8_t* data = in.data;
  const uint8_t* end = data + in.count;
  const uint8_t* p = data + at;
  while (p < end) {
    const uint8_t* mark =
        static_cast<const uint8_t*>(std::memchr(p, 0xFF, static_cast<size_t>(end - p)));
    if (mark == nullptr) break;
    const uint32_t i = static_cast<uint32_t>(mark - data);
    if (!in.HasBytes(i, 2)) return Walk::kWait;
    const uint8_t code = mark[1];
    if (code != 0x00 && (code < 0xD0 || code > 0xD7)) {
      s.in_scan = false;
      s.next = base + i;
      return Walk::kOn;
    }
    p = mark + 2;  // stuffing or a restart marker (it may end one byte past the sector)
  }
  s.next = base + static_cast<uint64_t>(p < end ? end - data : p - data);
  return Walk::kOn;
}

}  // namespace

JpegState StartJpeg() {
  return {};
}

Fed FeedJpeg(JpegState& s, const CarveView& view) {
  const SectorInput& in = view.in;
  const uint64_t base = view.written;
  const uint64_t end = base + in.count;
  if (s.in_mpf_images) {
    if (s.mpf_end > end) return More(in.count);
    s.complete = true;
    return Complete(s.mpf_end - base);
  }
  if (base >= kJpegSizeCap) return Refuse();
  Fed fed = More(in.count);
  const bool had_scan = s.scanned;
  while (s.next < end) {
    const uint32_t at = static_cast<uint32_t>(s.next - base);
    const Walk walk = s.in_scan ? TakeEntropy(s, in, base, at) : TakeMarker(s, in, base, at);
    if (walk == Walk::kRefuse) {
      // Foreign bytes inside or after the scans, or in headers that ran past the first sector:
      // the picture may go on in another fragment.
      if (!s.scanned && base + at < kSectorBytes) return Refuse();
      s.headers_cut = !s.scanned;
      s.broken = true;
      return Complete(at);
    }
    if (walk == Walk::kWait) break;
    if (walk == Walk::kEnd) {
      s.eoi_end = s.next;
      const std::vector<FilePiece> pieces = view.FileFromHere();
      PieceSource file(view.source, pieces);
      // An end marker met after foreign bytes (the picture was fragmented or overwritten)
      // ends a file that does not decode: it is not kept.
      const JpegVerdict verdict = CheckJpegEntropy(file, 0, s.eoi_end).verdict;
      if (verdict == JpegVerdict::kBroken) {
        s.broken = true;
        return Complete(s.next - base);
      }
      s.decoded = verdict == JpegVerdict::kWhole;
      if (MpfImagesPresent(s, file, 0)) {
        // The further images follow: sectors are taken up to the end of the last one.
        s.in_mpf_images = true;
        if (s.mpf_end > end) return More(in.count);
        s.complete = true;
        return Complete(s.mpf_end - base);
      }
      s.complete = true;
      fed = Complete(s.next - base);
      break;
    }
  }
  // Thumbnails and previews lie in the segments before the first scan: a sector starting FF D8
  // there is one of them. Inside or after the scans an FF D8 cannot belong to this file, so from
  // then on a JPEG header starts a new file.
  // A multi-picture file keeps them from starting until its last image has arrived.
  if (s.scanned && !had_scan && s.mpf_end == 0) fed.release_guard = true;
  return fed;
}

Kept FinishJpeg(const JpegState& state) {
  if (state.in_mpf_images && !state.complete) {
    // Ended by a header before its further images arrived: the first image is whole.
    Kept kept = KeepAsIs();
    kept.cut = state.eoi_end;
    return kept;
  }
  if (state.complete && !state.broken) {
    Kept kept = KeepAsIs();
    kept.proven = state.decoded;
    return kept;
  }
  // Ended before its end marker, or by foreign bytes: a picture cut short, whose other
  // fragments may lie elsewhere.
  if (!state.scanned && !state.headers_cut) return Drop();
  Kept kept = NotWhole();
  kept.check = CheckJpegWhole;
  kept.reassemble = ReassembleJpeg;
  kept.pieces_elsewhere = true;
  return kept;
}

Whole CheckJpegWhole(ByteSource& source, uint64_t start, uint64_t length) {
  switch (CheckJpegEntropy(source, start, length).verdict) {
    case JpegVerdict::kWhole:
      return Whole::kYes;
    case JpegVerdict::kBroken:
      return Whole::kNo;
    case JpegVerdict::kUnchecked:
      break;
  }
  return Whole::kUnchecked;
}

Match MatchJfif(const RowInput& r, Start* s) {
  if (!r.h.StartsWith(0, "\xFF\xD8") || !r.h.StartsWith(6, "JFIF")) return Match::kNo;
  return Opens(s, StartJpeg());
}

Match MatchJpegQuant(const RowInput& r, Start* s) {
  if (!r.h.StartsWith(0, "\xFF\xD8") || (r.h.Le16(2) & 0xDBFF) != 0xDBFF) return Match::kNo;
  return Opens(s, StartJpeg());
}

// A JPEG's start of image is always followed by a marker: FF D8 before any other byte is the
// inside of another file's data.
Match MatchJpeg(const RowInput& r, Start* s) {
  return r.h.StartsWith(0, "\xFF\xD8\xFF") ? Opens(s, StartJpeg()) : Match::kNo;
}

}  // namespace kestrel
