#include "scan/dispatch.h"

#include <array>
#include <cctype>
#include <string>

#include "carve/compound_doc.h"
#include "carve/counted_file.h"
#include "carve/crw.h"
#include "carve/end_marker.h"
#include "carve/midi.h"
#include "carve/mov.h"
#include "carve/pictures.h"
#include "carve/structured_bytes.h"
#include "carve/tiff_raw.h"
#include "carve/x3f.h"
#include "carve/zip.h"
#include "scan/sector_header.h"

namespace kestrel {
namespace {

// What a signature row did with the sector.
enum class Row {
  kNext,      // no match (or not started): try the next row
  kSkipTo24,  // matched a signature whose guards failed: go on at the RTF row
  kConsumed,  // started a file; the stop check follows
  kConsumedNoStopCheck,
  kDropped,  // consumed by nothing
};

struct Ctx {
  CarveSession& s;
  const SectorInput& in;
  const SectorHeader& h;
  CarveState& st;
};

bool Selected(const CarveSession& s, uint64_t bits) {
  return (s.selected_mask & bits) != 0;
}

// Starting a file: finish the open one, test the selection, name and create the output, then
// give the routine its start values and this sector.
template <typename Begin>
Row StartFile(Ctx& c, uint8_t code, const char* extension, uint64_t selection, bool readable,
              bool stop_check, Begin begin) {
  if (c.st.open_types != 0) c.s.FinishCarvedFile(c.s.last_type_code);
  if (!Selected(c.s, selection)) return Row::kNext;
  if (!c.s.OpenOutput(code, extension, readable)) return Row::kNext;
  begin();
  return stop_check ? Row::kConsumed : Row::kConsumedNoStopCheck;
}

// A length-driven start: the total length is known from the header.
Row StartCounted(Ctx& c, uint8_t code, const char* extension, uint64_t length, bool* open_flag,
                 bool stop_check = true) {
  return StartFile(c, code, extension, TypeBit(code), false, stop_check, [&] {
    if (open_flag) *open_flag = true;
    c.st.byte_count = length;
    CarveCountedFile(c.s, c.in);
  });
}

bool EqualsIgnoringCase(const uint8_t* bytes, std::string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (std::tolower(bytes[i]) != std::tolower(static_cast<unsigned char>(text[i]))) return false;
  }
  return true;
}

bool KodakDcMark(const Ctx& c) {
  return c.h.StartsWith(0, "MM") && c.in.HasBytes(470, 8) &&
         EqualsIgnoringCase(c.in.data + 470, "Kodak DC");
}

// ---- The rows, in order. ----

Row AiffRow(Ctx& c) {
  if (!c.h.StartsWith(0, "FORM") || c.st.zip_open) return Row::kNext;
  return StartCounted(c, kAif, "AIF", uint64_t{c.h.Be32(4)} + 8, nullptr);
}

Row BmpRow(Ctx& c) {
  const SectorHeader& h = c.h;
  if (!h.StartsWith(0, "BM") || h.Le32(2) == 0 || h.Le16(6) != 0 || h.Le16(8) != 0)
    return Row::kNext;
  if (c.st.zip_open) return Row::kNext;
  return StartCounted(c, kBmp, "BMP", h.Le32(2), nullptr);
}

Row AviRow(Ctx& c) {
  const SectorHeader& h = c.h;
  if (!h.StartsWith(0, "RIFF") || h.Le32(4) == 0 || !h.StartsWith(8, "AVI LIST")) return Row::kNext;
  if (c.st.zip_open || c.st.avi_open) return Row::kNext;
  return StartCounted(c, kAvi, "AVI", uint64_t{h.Le32(4)} + 8, &c.st.avi_open);
}

Row WavRow(Ctx& c) {
  const SectorHeader& h = c.h;
  if (!h.StartsWith(0, "RIFF") || h.Le32(4) == 0 || !h.StartsWith(8, "WAVE")) return Row::kNext;
  if (c.st.zip_open || c.st.wav_open) return Row::kNext;
  return StartCounted(c, kWav, "WAV", uint64_t{h.Le32(4)} + 8, &c.st.wav_open);
}

// An icon or cursor directory; returns the file length, 0 when the directory is not valid.
// Entries beyond the bytes the scan holds fail the test.
uint64_t IconFileLength(const Ctx& c, uint32_t kind) {
  const SectorHeader& h = c.h;
  if (h.Le16(0) != 0 || h.Le16(2) != kind) return 0;
  const uint32_t entries = h.Le16(4);
  if (entries == 0 || h[9] != 0) return 0;
  if (!c.in.HasBytes(6, size_t{16} * entries)) return 0;
  uint64_t sizes = 0;
  for (uint32_t e = 0; e < entries; ++e) {
    const uint8_t* entry = c.in.data + 6 + 16 * e;
    if (entry[0] == 0 || entry[1] == 0 || entry[2] % 16 != 0 || entry[3] != 0) return 0;
    sizes += uint64_t{entry[8]} | uint64_t{entry[9]} << 8 | uint64_t{entry[10]} << 16 |
             uint64_t{entry[11]} << 24;
  }
  if (sizes == 0) return 0;
  return sizes + 16 * uint64_t{entries} + 6;
}

Row CursorRow(Ctx& c) {
  uint64_t length = IconFileLength(c, 2);
  if (length == 0 || c.st.zip_open) return Row::kNext;
  return StartCounted(c, kCur, "CUR", length, nullptr);
}

Row IconRow(Ctx& c) {
  uint64_t length = IconFileLength(c, 1);
  if (length == 0 || c.st.zip_open) return Row::kNext;
  return StartCounted(c, kIco, "ICO", length, nullptr);
}

bool OrfMark(const SectorHeader& h) {
  return h.StartsWith(2, "OR") || h.StartsWith(2, "RS");
}

Row KodakRow(Ctx& c) {
  if (!Selected(c.s, TypeBit(kKdc)) || !c.h.StartsWith(0, "MM")) return Row::kNext;
  c.st.kodak_dc = KodakDcMark(c);
  if (!c.st.kodak_dc || c.st.raw_open) return Row::kNext;
  const bool orf = OrfMark(c.h);
  // The Kodak start keeps whatever the routine decided.
  return StartFile(c, kTif, orf ? "ORF" : "TIF", TypeBit(kKdc), true, true, [&] {
    c.st.orf_name = orf;
    c.st.raw_open = true;
    c.st.picture_open = true;
    StartTiffRaw(c.s, c.in);
    CarveTiffRaw(c.s, c.in, kTif);
  });
}

Row KodakSkipRow(Ctx& c) {
  if (Selected(c.s, TypeBit(kKdc))) return Row::kNext;
  if (KodakDcMark(c)) {
    c.st.kodak_dc = true;
    return Row::kDropped;
  }
  c.st.kodak_dc = false;
  return Row::kNext;
}

bool TiffHeader(const SectorHeader& h) {
  const bool intel = h.StartsWith(0, "II");
  const bool motorola = h.StartsWith(0, "MM");
  if (!intel && !motorola) return false;
  const bool classic = intel ? h.Le16(2) == 42 : h.StartsWith(2, std::string_view("\0\x2A", 2));
  return (classic || OrfMark(h)) && h.Le32(4) >= 8;
}

Row TiffRow(Ctx& c) {
  static constexpr std::string_view kExifJpegMark("\xFF\xD8\xFF\xE1\x38\x45\x45\x78\x69\x66", 10);
  const bool pattern = c.h.Contains(kExifJpegMark);
  if (!TiffHeader(c.h) && !pattern) return Row::kNext;
  if (c.st.zip_open || c.st.raw_open) return Row::kNext;
  const uint64_t selection =
      TypeBit(kDcr) | TypeBit(kNef) | TypeBit(kOrf) | TypeBit(kPef) | TypeBit(kSrf) | TypeBit(kTif);
  const bool orf = OrfMark(c.h) || pattern;
  if (orf && !Selected(c.s, TypeBit(kOrf))) {
    if (c.st.open_types != 0) c.s.FinishCarvedFile(c.s.last_type_code);
    return Row::kDropped;
  }
  // A refused TIFF is deleted by its routine.
  return StartFile(c, kTif, orf ? "ORF" : "TIF", selection, true, true, [&] {
    c.st.orf_name = orf;
    c.st.always_keep = c.h.StartsWith(2, "RS") || pattern;
    c.st.raw_open = true;
    c.st.picture_open = true;
    StartTiffRaw(c.s, c.in);
    CarveTiffRaw(c.s, c.in, kTif);
  });
}

Row MidiRow(Ctx& c) {
  if (!c.h.StartsWith(0, "MThd") || c.st.zip_open || c.st.mid_open) return Row::kNext;
  return StartFile(c, kMid, "MID", TypeBit(kMid), false, true, [&] {
    c.st.mid_open = true;
    c.st.byte_count = 0;
    CarveMidi(c.s, c.in, true);
  });
}

Row SndRow(Ctx& c) {
  if (!c.h.StartsWith(0, ".snd") || c.st.zip_open) return Row::kNext;
  // The whole file: the header (data offset) and the data.
  return StartCounted(c, kSnd, "SND", uint64_t{c.h.Be32(4)} + c.h.Be32(8), nullptr);
}

Row ZipRow(Ctx& c) {
  if (!c.h.StartsWith(0, "PK\x03\x04") || c.st.zip_open) return Row::kNext;
  const uint64_t selection = TypeBit(kZip) | TypeBit(kDoc) | TypeBit(kXls) | TypeBit(kPpt);
  return StartFile(c, kZip, "ZIP", selection, false, true, [&] {
    c.st.zip_open = true;
    StartZip(c.s);
    CarveZip(c.s, c.in);
  });
}

Row MovRow(Ctx& c) {
  const SectorHeader& h = c.h;
  const bool atom = h.StartsWith(4, "mdat") || h.StartsWith(4, "moov") || h.StartsWith(4, "free") ||
                    h.StartsWith(4, "skip") || h.StartsWith(4, "wide");
  if (!atom || c.st.zip_open || c.st.mov_open) return Row::kNext;
  return StartFile(c, kMov, "MOV", TypeBit(kMov), false, true, [&] {
    c.st.mov_open = true;
    StartMov(c.s);
    CarveMov(c.s, c.in, kMov);
  });
}

Row GifRow(Ctx& c) {
  if (!c.h.StartsWith(0, "GIF8") || c.st.zip_open) return Row::kNext;
  return StartFile(c, kGif, "GIF", TypeBit(kGif), false, true, [&] {
    c.st.byte_count = 0;
    CarveGifToTrailer(c.s, c.in);
  });
}

Row JfifRow(Ctx& c) {
  if (!c.h.StartsWith(0, "\xFF\xD8") || !c.h.StartsWith(6, "JFIF")) return Row::kNext;
  if (c.st.zip_open || c.st.raw_open) return Row::kNext;
  c.st.picture_open = false;
  return StartFile(c, kJpg, "JPG", TypeBit(kJpg), false, true, [&] {
    c.st.picture_open = true;
    c.st.jpeg_open = true;
    c.st.jfif_walk = true;
    c.st.jfif_in_scan = false;
    c.st.byte_count = uint64_t{c.h.Be16(4)} + 4;
    CarveJfif(c.s, c.in);
  });
}

Row MpegRow(Ctx& c) {
  if (!c.h.StartsWith(1, std::string_view("\x00\x01\xBA\x21", 4))) return Row::kNext;
  if (c.st.mpg_open || c.st.zip_open) return Row::kNext;
  return StartFile(c, kMpg, "MPG", TypeBit(kMpg), false, true, [&] {
    c.st.mpg_open = true;
    CarveMpg(c.s, c.in);
  });
}

Row PdfRow(Ctx& c) {
  if (!c.h.StartsWith(0, "%PDF")) return Row::kNext;
  if (c.st.zip_open || c.st.pdf_open) return Row::kSkipTo24;
  return StartFile(c, kPdf, "PDF", TypeBit(kPdf), false, true, [&] {
    c.st.pdf_open = true;
    CarvePdf(c.s, c.in);
  });
}

Row PlaceableWmfRow(Ctx& c) {
  const SectorHeader& h = c.h;
  if (!h.StartsWith(0, "\xD7\xCD\xC6\x9A")) return Row::kNext;
  const bool valid = h.Le16(4) == 0 && h.Le32(16) == 0 && h.Le16(22) == 1 && h.Le16(24) == 9 &&
                     h.Le32(28) != 0 && h.Le16(38) == 0;
  if (!valid || c.st.wmf_open) return Row::kSkipTo24;
  return StartCounted(c, kWmf, "WMF", 2 * uint64_t{h.Le32(28)} + 22, &c.st.wmf_open);
}

Row PlainWmfRow(Ctx& c) {
  const SectorHeader& h = c.h;
  if (h.Le16(0) != 1 || h.Le16(2) != 9 || h.Le32(6) == 0 || h.Le16(16) != 0) return Row::kNext;
  if (c.st.ole_open || c.st.wmf_open) return Row::kNext;
  return StartCounted(c, kWmf, "WMF", 2 * uint64_t{h.Le32(6)}, &c.st.wmf_open);
}

Row WmvRow(Ctx& c) {
  if (!c.h.StartsWith(0, "\x30\x26\xB2\x75")) return Row::kNext;
  if (c.st.zip_open) return Row::kSkipTo24;
  uint32_t length = c.h.Le32(70);
  if (length == 0) length = c.h.Le32(152);
  return StartCounted(c, kWmv, "WMV", length, &c.st.wmv_open);
}

Row AsxRow(Ctx& c) {
  if ((!c.h.StartsWith(0, "<ASX") && !c.h.StartsWith(0, "<asx")) || c.st.zip_open)
    return Row::kNext;
  return StartFile(c, kAsx, "ASX", TypeBit(kAsx), false, true, [&] { CarveAsx(c.s, c.in); });
}

Row PngRow(Ctx& c) {
  if (!c.h.StartsWith(0, "\x89PNG")) return Row::kNext;
  if (c.st.zip_open || c.st.png_open) return Row::kSkipTo24;
  return StartFile(c, kPng, "PNG", TypeBit(kPng), false, true, [&] {
    c.st.png_open = true;
    CarvePng(c.s, c.in);
  });
}

Row OleFragmentRow(Ctx& c) {
  if (!c.h.StartsWith(0, "\xD0\xCF\x11\xE0") || c.h.StartsWith(4, "\xA1\xB1\x1A\xE1"))
    return Row::kNext;
  if (c.st.zip_open) return Row::kNext;
  return StartFile(c, kDoc, "DOC", TypeBit(kDoc), false, true, [&] { CarveOleDoc(c.s, c.in); });
}

Row RtfRow(Ctx& c) {
  if (!c.h.StartsWith(0, "{\\rtf1") || c.st.zip_open) return Row::kNext;
  return StartFile(c, kRtf, "RTF", TypeBit(kRtf), false, true, [&] { CarveRtf(c.s, c.in); });
}

Row RafRow(Ctx& c) {
  if (!c.h.Contains("FUJIFILMCCD-RAW") || c.st.zip_open || c.st.raf_open) return Row::kNext;
  const uint8_t* d = c.in.data;
  // The two length fields lie before the embedded JPEG, inside this sector.
  for (uint32_t i = 8; i < c.in.count; ++i) {
    if (d[i] != 0xFF || d[i + 1] != 0xD8 || !c.in.HasBytes(i, 16)) continue;
    const bool intel = d[i + 12] == 'I' && d[i + 13] == 'I' && LoadLe16(d + i + 14) == 42;
    const bool motorola =
        d[i + 12] == 'M' && d[i + 13] == 'M' && d[i + 14] == 0 && d[i + 15] == 0x2A;
    if (!intel && !motorola) continue;
    const uint64_t length = uint64_t{Load32(d + i - 4, motorola)} + Load32(d + i - 8, motorola);
    return StartFile(c, kRaf, "RAF", TypeBit(kRaf), false, true, [&] {
      c.st.raf_open = true;
      c.st.picture_open = true;
      c.st.byte_count = length;
      CarveCountedFile(c.s, c.in);
    });
  }
  return Row::kNext;
}

Row CrwRow(Ctx& c) {
  const SectorHeader& h = c.h;
  const bool order = h.StartsWith(0, "II") || h.StartsWith(0, "MM");
  if (h.Le32(2) == 0 || !order || !h.StartsWith(6, "HEAPCCDR")) return Row::kNext;
  if (c.st.zip_open || c.st.crw_open) return Row::kNext;
  return StartFile(c, kCrw, "CRW", TypeBit(kCrw), false, true, [&] {
    c.st.crw_open = true;
    c.st.picture_open = true;
    c.st.file_complete = false;
    c.st.byte_count = 0;
    c.st.big_endian = h.StartsWith(0, "MM");
    CarveCrw(c.s, c.in);
  });
}

// The Minolta length: the raw image size from the PRD block plus the header; 0 when the block
// does not describe an image.
bool MinoltaLength(const Ctx& c, uint64_t* length) {
  const uint8_t* d = c.in.data;
  bool motorola = false;
  bool found = false;
  for (uint32_t i = 0; i < c.in.count && !found; ++i) {
    if (LoadLe16(d + i) == 0x4949 && LoadLe16(d + i + 2) == 42) {
      found = true;
    } else if (LoadLe16(d + i) == 0x4D4D && d[i + 2] == 0 && d[i + 3] == 0x2A) {
      found = motorola = true;
    }
  }
  if (!found) return false;
  const uint32_t k = Load32(d + 12, motorola);
  if (!c.in.HasBytes(k, 9)) return false;
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

Row MrwRow(Ctx& c) {
  const SectorHeader& h = c.h;
  if (h[0] != 0 || !h.Contains("MRM", 1) || h.Le16(6) == 0) return Row::kNext;
  uint64_t length = 0;
  if (!MinoltaLength(c, &length)) return Row::kNext;
  if (c.st.zip_open || c.st.mrw_open || c.st.jpeg_open) return Row::kNext;
  return StartFile(c, kMrw, "MRW", TypeBit(kMrw), false, true, [&] {
    c.st.mrw_open = true;
    c.st.picture_open = true;
    c.st.byte_count = length;
    CarveCountedFile(c.s, c.in);
  });
}

Row MsvRow(Ctx& c) {
  if (!c.h.Contains("MS_VOICE") || c.st.zip_open || c.st.msv_open) return Row::kNext;
  return StartCounted(c, kMsv, "MSV", uint64_t{c.h.Be32(156)} + 1024, &c.st.msv_open, false);
}

Row MsfRow(Ctx& c) {
  if (!c.h.Contains("MSGL") || c.h.Le32(8) != 0xFFFFFFFF || c.h.Le32(12) != 0xFFFFFFFF) {
    return Row::kNext;
  }
  if (c.st.zip_open || c.st.msf_open) return Row::kNext;
  return StartCounted(c, kMsf, "MSF", 32768, &c.st.msf_open, false);
}

bool NoVideoOrRawOpen(const CarveState& st) {
  return !st.raw_open && !st.avi_open && !st.mov_open && !st.wmv_open;
}

Row JpegQuantRow(Ctx& c) {
  if (!c.h.StartsWith(0, "\xFF\xD8") || (c.h.Le16(2) & 0xDBFF) != 0xDBFF) return Row::kNext;
  if (c.st.zip_open || c.st.picture_open || !NoVideoOrRawOpen(c.st)) return Row::kNext;
  return StartFile(c, kJpg, "JPG", TypeBit(kJpg), false, true, [&] {
    c.st.jpeg_open = true;
    c.st.byte_count = 0;
    CarveJpegToEoi(c.s, c.in);
  });
}

Row PstRow(Ctx& c) {
  if (!c.h.StartsWith(0, "!BDN")) return Row::kNext;
  return StartCounted(c, kPst, "PST", c.h.Le32(168), nullptr, false);
}

Row JpegRow(Ctx& c) {
  if (!c.h.StartsWith(0, "\xFF\xD8")) return Row::kNext;
  const CarveState& st = c.st;
  if (st.zip_open || st.ole_open || st.mp3_open || st.mpg_open || !NoVideoOrRawOpen(st)) {
    return Row::kNext;
  }
  return StartFile(c, kJpg, "JPG", TypeBit(kJpg), false, true, [&] {
    c.st.jpeg_open = true;
    c.st.byte_count = 0;
    CarveJpegToEoi(c.s, c.in);
  });
}

Row X3fRow(Ctx& c) {
  if (!c.h.Contains("FOVb") || c.st.x3f_open) return Row::kNext;
  return StartFile(c, kX3f, "X3F", TypeBit(kX3f), false, false, [&] {
    c.st.x3f_open = true;
    c.st.picture_open = true;
    c.st.x3f_tail = 0;
    CarveX3f(c.s, c.in);
  });
}

Row CompoundRow(Ctx& c) {
  if (!c.h.StartsWith(0, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1")) return Row::kNext;
  const uint64_t selection = TypeBit(kPpt) | TypeBit(kXls) | TypeBit(kDoc);
  return StartFile(c, kPpt, "PPT", selection, false, false, [&] {
    c.st.ole_open = true;
    c.st.picture_open = true;
    c.st.byte_count = 0;
    c.st.byte_count = MeasureCompoundFile(c.s, c.in);
    CarveCompoundDoc(c.s, c.in, kPpt);
  });
}

Row Mp3Row(Ctx& c) {
  const SectorHeader& h = c.h;
  if (!h.StartsWith(0, "ID3") || h[3] == 0xFF || h[4] == 0xFF) return Row::kNext;
  if (h[6] >= 0x80 || h[7] >= 0x80 || h[8] >= 0x80 || h[9] >= 0x80 || c.st.zip_open)
    return Row::kNext;
  return StartFile(c, kMp3, "MP3", TypeBit(kMp3), false, true, [&] {
    c.st.byte_count = 0;
    c.st.mp3_open = true;
    CarveMp3(c.s, c.in);
  });
}

using RowTest = Row (*)(Ctx&);

// The signature rows in the order they are tried. RtfRow is where "skip to the RTF row" lands.
constexpr std::array<RowTest, 35> kRows = {
    AiffRow,      BmpRow,         AviRow,  WavRow,          CursorRow,   IconRow,     KodakRow,
    KodakSkipRow, TiffRow,        MidiRow, SndRow,          ZipRow,      MovRow,      GifRow,
    JfifRow,      MpegRow,        PdfRow,  PlaceableWmfRow, PlainWmfRow, WmvRow,      AsxRow,
    PngRow,       OleFragmentRow, RtfRow,  RafRow,          CrwRow,      MrwRow,      MsvRow,
    MsfRow,       JpegQuantRow,   PstRow,  JpegRow,         X3fRow,      CompoundRow, Mp3Row,
};
constexpr size_t kRtfRowIndex = 23;

// The sector goes to the routine of the open file (the continuation).
void Continue(CarveSession& s, const SectorInput& in) {
  CarveState& st = s.st;
  const uint8_t code = s.last_type_code;
  switch (code) {
    case kAif:
    case kAvi:
    case kBmp:
    case kCur:
    case kIco:
    case kWav:
    case kPst:
    case kRaf:
    case kMrw:
    case kMsv:
    case kMsf:
      if (st.byte_count != 0) CarveCountedFile(s, in);
      break;
    case kSnd:
    case kWmf:
    case kWmv:
      CarveCountedFile(s, in);
      break;
    case kTif:
      if (st.byte_count != 0) CarveTiffRaw(s, in, code);
      break;
    case kMp3:
      CarveMp3(s, in);
      break;
    case kGif:
    case kJpg:
      if (st.jfif_walk) {
        CarveJfif(s, in);
      } else {
        ContinuePicture(s, in, code);
      }
      break;
    case kMid:
      CarveMidi(s, in, false);
      break;
    case kZip:
      CarveZip(s, in);
      break;
    case kMov:
      CarveMov(s, in, code);
      break;
    case kMpg:
      CarveMpg(s, in);
      break;
    case kPdf:
      CarvePdf(s, in);
      break;
    case kAsx:
      CarveAsx(s, in);
      break;
    case kPng:
      CarvePng(s, in);
      break;
    case kDoc:
      CarveOleDoc(s, in);
      break;
    case kRtf:
      CarveRtf(s, in);
      break;
    case kCrw:
      CarveCrw(s, in);
      break;
    case kX3f:
      CarveX3f(s, in);
      break;
    case kPpt:
      CarveCompoundDoc(s, in, code);
      break;
    default:
      break;
  }
}

DispatchVerdict StopCheck(const CarveSession& s) {
  return s.st.stop_scan ? DispatchVerdict::kStopScan : DispatchVerdict::kContinue;
}

}  // namespace

DispatchVerdict DispatchSector(CarveSession& s, const SectorInput& in) {
  SectorHeader header(in);
  Ctx c{s, in, header, s.st};
  for (size_t i = 0; i < kRows.size(); ++i) {
    switch (kRows[i](c)) {
      case Row::kNext:
        continue;
      case Row::kSkipTo24:
        i = kRtfRowIndex - 1;
        continue;
      case Row::kConsumed:
        return StopCheck(s);
      case Row::kConsumedNoStopCheck:
      case Row::kDropped:
        return DispatchVerdict::kContinue;
    }
  }
  if (s.st.open_types == 0) return DispatchVerdict::kContinue;
  Continue(s, in);
  return StopCheck(s);
}

}  // namespace kestrel
