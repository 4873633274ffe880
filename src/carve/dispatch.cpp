#include "carve/dispatch.h"

#include <array>
#include <bit>
#include <cctype>
#include <cstring>
#include <string_view>

#include "carve/formats/iso_media.h"
#include "carve/formats/mp3.h"
#include "carve/formats/mpeg_ps.h"
#include "carve/pair_scan.h"
#include "carve/sector_header.h"
#include "platform/byte_order.h"
#include "platform/sector_size.h"

namespace kestrel {
namespace {

// What a row's signature test found in the sector.
enum class Match : uint8_t {
  kNo,             // not this row's header: try the next row
  kYes,            // this row's header; its start values are filled in
  kSkipToRtf,      // the signature of a header that is not valid: go on at the RTF row
  kDrop,           // the sector is consumed by nothing
  kFinishAndDrop,  // ends the open file, then the sector is consumed by nothing
};

// What a row does when its header appears inside an open file that guards it.
enum class OnGuard : uint8_t { kNextRow, kSkipToRtf };

struct RowInput {
  const SectorHeader& h;
  const SectorInput& in;
  const CarveView& view;
};

struct Start {
  FormatState state;
  const char* extension = nullptr;  // null: the row's extension
  uint32_t guards = kGuardNone;     // guard marks beside the row's
};

using Signature = Match (*)(const RowInput&, Start*);

// Which sectors a row's signature test can match at all: those whose byte at `offset` (0 or 4)
// is one of `leads`, or whose header holds the two bytes `pair` side by side. A row with
// neither is tried on every sector. Most sectors pass no row's gate and are tested by no row.
struct Gate {
  constexpr Gate(uint8_t at, std::string_view lead_bytes, std::string_view text_pair = {})
      : offset(at), leads(lead_bytes), pair(text_pair) {}
  uint8_t offset;
  std::string_view leads;
  std::string_view pair;
};

struct Row {
  Signature test;
  Gate gate;
  uint32_t guarded_by;  // guard marks of an open file that keep this header from starting
  OnGuard on_guard;
  uint64_t selection;  // types of which at least one must be selected
  const char* extension;
  uint32_t guards;  // guard marks of the file it starts
  bool stop_check;  // a failed write of the header sector stops the scan at once
};

Match Yes(Start* start, FormatState state, const char* extension = nullptr) {
  start->state = std::move(state);
  start->extension = extension;
  start->guards = kGuardNone;
  return Match::kYes;
}

Match Counted(Start* start, uint64_t length, bool keep_unfinished = false) {
  return Yes(start, CountedState{length, keep_unfinished});
}

// Stated lengths that streaming writers leave when they cannot seek back (0, all ones) and
// beyond what the format can hold say nothing about where the file ends.
constexpr uint64_t kMaxSealedLength = 0xFFFFFF00u;

// A length-driven file whose header is valid beyond its signature: its stated length is
// trusted, and the signatures that the data of sound, pixels and video holds at sector starts
// (JPEG frames and starts, ID3 tags, MP3 frames, icons, atoms, loose bitmap and WMF headers)
// start nothing inside it. A header valid beyond a few bytes still
// ends it: that is a file the sealed one's fragments left room for.
Match Sealed(Start* start, uint64_t length) {
  const Match match = Counted(start, length);
  if (length > kSectorBytes && length < kMaxSealedLength) start->guards = kGuardSealed;
  return match;
}

Match EndMarker(Start* start, EndMarkerKind kind) {
  return Yes(start, EndMarkerState{kind});
}

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

// An icon or cursor directory; returns the file length, 0 when the directory is not valid.
// Entries beyond the bytes the scan holds fail the test.
uint64_t IconFileLength(const RowInput& r, uint32_t kind) {
  const SectorHeader& h = r.h;
  if (h.Le16(0) != 0 || h.Le16(2) != kind) return 0;
  const uint32_t entries = h.Le16(4);
  if (entries == 0 || h[9] != 0) return 0;
  if (!r.in.HasBytes(6, size_t{16} * entries)) return 0;
  uint64_t sizes = 0;
  for (uint32_t e = 0; e < entries; ++e) {
    const uint8_t* entry = r.in.data + 6 + 16 * e;
    if (entry[0] == 0 || entry[1] == 0 || entry[2] % 16 != 0 || entry[3] != 0) return 0;
    sizes += LoadLe32(entry + 8);
  }
  if (sizes == 0) return 0;
  return sizes + 16 * uint64_t{entries} + 6;
}

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

// A "fmt " chunk right after "WAVE" that describes real audio.
bool WaveFormatValid(const SectorHeader& h) {
  if (!h.StartsWith(12, "fmt ") || h.Le32(16) < 16 || h.Le32(16) > 256) return false;
  const uint32_t channels = h.Le16(22), rate = h.Le32(24), block = h.Le16(32), bits = h.Le16(34);
  return h.Le16(20) != 0 && channels >= 1 && channels <= 64 && rate >= 1000 && rate <= 1536000 &&
         block != 0 && bits <= 64;
}

// A bitmap information header of a known size, one plane, a real depth, the pixels after the
// headers and inside the file, and (uncompressed) pixel rows that fit the stated size.
bool BitmapHeaderValid(const SectorHeader& h) {
  const uint32_t file = h.Le32(2), pixels = h.Le32(10), info = h.Le32(14);
  const bool core = info == 12;
  if (!core && info != 40 && info != 52 && info != 56 && info != 108 && info != 124) return false;
  const uint32_t planes = core ? h.Le16(22) : h.Le16(26), depth = core ? h.Le16(24) : h.Le16(28);
  if (planes != 1 ||
      (depth != 1 && depth != 4 && depth != 8 && depth != 16 && depth != 24 && depth != 32)) {
    return false;
  }
  if (pixels < 14 + info || pixels >= file) return false;
  if (core || h.Le32(30) != 0) return true;
  const uint64_t width = h.Le32(18);
  const auto height = static_cast<int32_t>(h.Le32(22));
  const uint64_t rows = height < 0 ? uint64_t{0} - static_cast<int64_t>(height) : uint64_t(height);
  // Sides past a million pixels are no real bitmap (and would overflow the product below).
  constexpr uint64_t kMaxSide = uint64_t{1} << 20;
  if (width == 0 || rows == 0 || width > kMaxSide || rows > kMaxSide) return false;
  const uint64_t row_bytes = (width * depth + 31) / 32 * 4;
  return pixels + row_bytes * rows <= file;
}

// ---- The signature tests, in the order of the table. ----

Match Aiff(const RowInput& r, Start* s) {
  if (!r.h.StartsWith(0, "FORM")) return Match::kNo;
  const uint64_t length = uint64_t{r.h.Be32(4)} + 8;
  const bool audio = r.h.StartsWith(8, "AIFF") || r.h.StartsWith(8, "AIFC");
  return audio ? Sealed(s, length) : Counted(s, length);
}

Match Bmp(const RowInput& r, Start* s) {
  const SectorHeader& h = r.h;
  if (!h.StartsWith(0, "BM") || h.Le32(2) == 0 || h.Le16(6) != 0 || h.Le16(8) != 0)
    return Match::kNo;
  return BitmapHeaderValid(h) ? Sealed(s, h.Le32(2)) : Counted(s, h.Le32(2));
}

Match Avi(const RowInput& r, Start* s) {
  const SectorHeader& h = r.h;
  if (!h.StartsWith(0, "RIFF") || h.Le32(4) == 0 || !h.StartsWith(8, "AVI LIST")) {
    return Match::kNo;
  }
  const uint64_t length = uint64_t{h.Le32(4)} + 8;
  return h.StartsWith(20, "hdrlavih") ? Sealed(s, length) : Counted(s, length);
}

Match Wav(const RowInput& r, Start* s) {
  const SectorHeader& h = r.h;
  if (!h.StartsWith(0, "RIFF") || h.Le32(4) == 0 || !h.StartsWith(8, "WAVE")) return Match::kNo;
  const uint64_t length = uint64_t{h.Le32(4)} + 8;
  return WaveFormatValid(h) ? Sealed(s, length) : Counted(s, length);
}

Match Cursor(const RowInput& r, Start* s) {
  const uint64_t length = IconFileLength(r, 2);
  return length == 0 ? Match::kNo : Counted(s, length);
}

Match Icon(const RowInput& r, Start* s) {
  const uint64_t length = IconFileLength(r, 1);
  return length == 0 ? Match::kNo : Counted(s, length);
}

Match Kodak(const RowInput& r, Start* s) {
  if (!IsSelected(r.view.selected, kKdc) || !KodakDcMark(r)) return Match::kNo;
  const bool orf = OrfMark(r.h);
  return Yes(s, StartTiff(r.view, {orf, false, true}), orf ? "ORF" : "TIF");
}

// Without KDC selected, a Kodak DC header is taken by nothing.
Match KodakSkip(const RowInput& r, Start*) {
  return !IsSelected(r.view.selected, kKdc) && KodakDcMark(r) ? Match::kDrop : Match::kNo;
}

Match Tiff(const RowInput& r, Start* s) {
  static constexpr std::string_view kExifJpegMark("\xFF\xD8\xFF\xE1\x38\x45\x45\x78\x69\x66", 10);
  const bool pattern = r.h.Contains(kExifJpegMark);
  if (!TiffHeader(r.h) && !pattern) return Match::kNo;
  const bool orf = OrfMark(r.h) || pattern;
  if (orf && !IsSelected(r.view.selected, kOrf)) return Match::kFinishAndDrop;
  const bool always_keep = r.h.StartsWith(2, "RS") || pattern;
  return Yes(s, StartTiff(r.view, {orf, always_keep, false}), orf ? "ORF" : "TIF");
}

Match Midi(const RowInput& r, Start* s) {
  return r.h.StartsWith(0, "MThd") ? Yes(s, MidiState{}) : Match::kNo;
}

Match Snd(const RowInput& r, Start* s) {
  if (!r.h.StartsWith(0, ".snd")) return Match::kNo;
  // The whole file: the header (data offset) and the data.
  return Counted(s, uint64_t{r.h.Be32(4)} + r.h.Be32(8));
}

Match Zip(const RowInput& r, Start* s) {
  return r.h.StartsWith(0, "PK\x03\x04") ? Yes(s, ZipState{}) : Match::kNo;
}

Match Ftyp(const RowInput& r, Start* s) {
  if (!r.h.StartsWith(4, "ftyp") || !IsFileTypeAtom(r.in.data)) return Match::kNo;
  return Yes(s, StartFileTypeMovie(r.in.data));
}

Match Mov(const RowInput& r, Start* s) {
  const SectorHeader& h = r.h;
  const bool atom = h.StartsWith(4, "mdat") || h.StartsWith(4, "moov") || h.StartsWith(4, "free") ||
                    h.StartsWith(4, "skip") || h.StartsWith(4, "wide");
  return atom ? Yes(s, MovState{}) : Match::kNo;
}

Match Gif(const RowInput& r, Start* s) {
  return r.h.StartsWith(0, "GIF8") ? Yes(s, StartGif()) : Match::kNo;
}

Match Jfif(const RowInput& r, Start* s) {
  if (!r.h.StartsWith(0, "\xFF\xD8") || !r.h.StartsWith(6, "JFIF")) return Match::kNo;
  return Yes(s, StartJpeg());
}

// A pack header of either form (MPEG-1 or MPEG-2) with its marker bits.
Match Mpeg(const RowInput& r, Start* s) {
  return PackHeaderAt(r.in.data) != MpegSystem::kUnknown ? Yes(s, MpegState{}) : Match::kNo;
}

Match Pdf(const RowInput& r, Start* s) {
  return r.h.StartsWith(0, "%PDF") ? Yes(s, StartPdf(r.view)) : Match::kNo;
}

Match PlaceableWmf(const RowInput& r, Start* s) {
  const SectorHeader& h = r.h;
  if (!h.StartsWith(0, "\xD7\xCD\xC6\x9A")) return Match::kNo;
  const bool valid = h.Le16(4) == 0 && h.Le32(16) == 0 && h.Le16(22) == 1 && h.Le16(24) == 9 &&
                     h.Le32(28) != 0 && h.Le16(38) == 0;
  if (!valid) return Match::kSkipToRtf;
  return Counted(s, 2 * uint64_t{h.Le32(28)} + 22);
}

Match PlainWmf(const RowInput& r, Start* s) {
  const SectorHeader& h = r.h;
  if (h.Le16(0) != 1 || h.Le16(2) != 9 || h.Le32(6) == 0 || h.Le16(16) != 0) return Match::kNo;
  return Counted(s, 2 * uint64_t{h.Le32(6)});
}

// A WMV ended early by another header is kept with what it has.
Match Wmv(const RowInput& r, Start* s) {
  if (!r.h.StartsWith(0, "\x30\x26\xB2\x75")) return Match::kNo;
  uint32_t length = r.h.Le32(70);
  if (length == 0) length = r.h.Le32(152);
  return Counted(s, length, true);
}

Match Asx(const RowInput& r, Start* s) {
  if (!r.h.StartsWith(0, "<ASX") && !r.h.StartsWith(0, "<asx")) return Match::kNo;
  return EndMarker(s, EndMarkerKind::kAsx);
}

Match Png(const RowInput& r, Start* s) {
  return r.h.StartsWith(0, "\x89PNG") ? EndMarker(s, EndMarkerKind::kPng) : Match::kNo;
}

Match OleFragment(const RowInput& r, Start* s) {
  if (!r.h.StartsWith(0, "\xD0\xCF\x11\xE0") || r.h.StartsWith(4, "\xA1\xB1\x1A\xE1")) {
    return Match::kNo;
  }
  return EndMarker(s, EndMarkerKind::kOleFragment);
}

Match Rtf(const RowInput& r, Start* s) {
  return r.h.StartsWith(0, "{\\rtf1") ? Yes(s, StartRtf()) : Match::kNo;
}

Match Raf(const RowInput& r, Start* s) {
  if (!r.h.Contains("FUJIFILMCCD-RAW")) return Match::kNo;
  const uint64_t length = FujiRawLength(r);
  return length == 0 ? Match::kNo : Counted(s, length);
}

Match Crw(const RowInput& r, Start* s) {
  const SectorHeader& h = r.h;
  const bool order = h.StartsWith(0, "II") || h.StartsWith(0, "MM");
  if (h.Le32(2) == 0 || !order || !h.StartsWith(6, "HEAPCCDR")) return Match::kNo;
  return Yes(s, CrwState{h.StartsWith(0, "MM")});
}

Match Mrw(const RowInput& r, Start* s) {
  const SectorHeader& h = r.h;
  uint64_t length = 0;
  if (h[0] != 0 || !h.Contains("MRM", 1) || h.Le16(6) == 0 || !MinoltaLength(r, &length)) {
    return Match::kNo;
  }
  return Counted(s, length);
}

Match Msv(const RowInput& r, Start* s) {
  if (!r.h.Contains("MS_VOICE")) return Match::kNo;
  return Counted(s, uint64_t{r.h.Be32(156)} + 1024);
}

Match Msf(const RowInput& r, Start* s) {
  if (!r.h.Contains("MSGL") || r.h.Le32(8) != 0xFFFFFFFF || r.h.Le32(12) != 0xFFFFFFFF) {
    return Match::kNo;
  }
  return Counted(s, 32768);
}

Match JpegQuant(const RowInput& r, Start* s) {
  if (!r.h.StartsWith(0, "\xFF\xD8") || (r.h.Le16(2) & 0xDBFF) != 0xDBFF) return Match::kNo;
  return Yes(s, StartJpeg());
}

Match Pst(const RowInput& r, Start* s) {
  return r.h.StartsWith(0, "!BDN") ? Counted(s, r.h.Le32(168)) : Match::kNo;
}

// A JPEG's start of image is always followed by a marker: FF D8 before any other byte is the
// inside of another file's data.
Match Jpeg(const RowInput& r, Start* s) {
  return r.h.StartsWith(0, "\xFF\xD8\xFF") ? Yes(s, StartJpeg()) : Match::kNo;
}

Match X3f(const RowInput& r, Start* s) {
  return r.h.Contains("FOVb") ? Yes(s, X3fState{}) : Match::kNo;
}

Match Compound(const RowInput& r, Start* s) {
  if (!r.h.StartsWith(0, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1")) return Match::kNo;
  return Yes(s, StartCompound(r.view));
}

Match Mp3(const RowInput& r, Start* s) {
  const SectorHeader& h = r.h;
  if (!h.StartsWith(0, "ID3") || h[3] == 0xFF || h[4] == 0xFF) return Match::kNo;
  if (h[6] >= 0x80 || h[7] >= 0x80 || h[8] >= 0x80 || h[9] >= 0x80) return Match::kNo;
  return Yes(s, Mp3State{});
}

// An MPEG audio stream without a tag: a frame header whose next frame follows right after it.
Match Mp3Frames(const RowInput& r, Start* s) {
  return Mp3FramesStartAt(r.in) ? Yes(s, Mp3State{}) : Match::kNo;
}

constexpr uint64_t Bits(std::initializer_list<uint8_t> codes) {
  uint64_t bits = 0;
  for (uint8_t code : codes) bits |= TypeBit(code);
  return bits;
}

constexpr uint32_t kVideoOrRaw = kGuardRaw | kGuardAvi | kGuardMov | kGuardWmv;
// Every guard mark: audio frames are common inside other files' data, so a frame header starts
// nothing inside an open file that guards anything.
constexpr uint32_t kGuardAny = ~uint32_t{0};
constexpr uint64_t kTiffFamily = Bits({kDcr, kNef, kOrf, kPef, kSrf, kTif});
constexpr OnGuard kNext = OnGuard::kNextRow;
constexpr OnGuard kSkip = OnGuard::kSkipToRtf;
constexpr std::string_view kNul("\0", 1);

// The signature rows in the order they are tried.
// clang-format off
constexpr std::array<Row, 37> kRows = {{
//  test          gate                  guarded by                          on guard  selection                       ext    guards of the file          stop check
    {Aiff,         {0, "F"},             kGuardZip,                          kNext,    Bits({kAif}),                   "AIF", kGuardNone,                 true},
    {Bmp,          {0, "B"},             kGuardZip | kGuardSealed,           kNext,    Bits({kBmp}),                   "BMP", kGuardNone,                 true},
    {Avi,          {0, "R"},             kGuardZip | kGuardAvi,              kNext,    Bits({kAvi}),                   "AVI", kGuardAvi,                  true},
    {Wav,          {0, "R"},             kGuardZip | kGuardWav,              kNext,    Bits({kWav}),                   "WAV", kGuardWav,                  true},
    {Cursor,       {0, kNul},            kGuardZip | kGuardSealed,           kNext,    Bits({kCur}),                   "CUR", kGuardNone,                 true},
    {Icon,         {0, kNul},            kGuardZip | kGuardSealed,           kNext,    Bits({kIco}),                   "ICO", kGuardNone,                 true},
    {Kodak,        {0, "M"},             kGuardRaw,                          kNext,    Bits({kKdc}),                   "TIF", kGuardRaw | kGuardPicture,  true},
    {KodakSkip,    {0, "M"},             kGuardNone,                         kNext,    0,                              "",    kGuardNone,                 true},
    {Tiff,         {0, "IM", "\xFF\xD8"}, kGuardZip | kGuardRaw,              kNext,    kTiffFamily,                    "TIF", kGuardRaw | kGuardPicture,  true},
    {Midi,         {0, "M"},             kGuardZip | kGuardMidi,             kNext,    Bits({kMid}),                   "MID", kGuardMidi,                 true},
    {Snd,          {0, "."},             kGuardZip,                          kNext,    Bits({kSnd}),                   "SND", kGuardNone,                 true},
    {Zip,          {0, "P"},             kGuardZip,                          kNext,    Bits({kZip, kDoc, kXls, kPpt}), "ZIP", kGuardZip,                  true},
    {Ftyp,         {4, "f"},             kGuardZip | kGuardMov,              kNext,    Bits({kMov}),                   "MOV", kGuardMov,                  true},
    {Mov,          {4, "mfsw"},          kGuardZip | kGuardMov | kGuardSealed, kNext,    Bits({kMov}),                   "MOV", kGuardMov,                  true},
    {Gif,          {0, "G"},             kGuardZip,                          kNext,    Bits({kGif}),                   "GIF", kGuardNone,                 true},
    {Jfif,         {0, "\xFF"},          kGuardZip | kGuardRaw | kGuardJpeg | kGuardSealed, kNext,    Bits({kJpg}),                   "JPG", kGuardPicture | kGuardJpeg, true},
    {Mpeg,         {0, kNul},            kGuardMpg | kGuardZip,              kNext,    Bits({kMpg}),                   "MPG", kGuardMpg,                  true},
    {Pdf,          {0, "%"},             kGuardZip | kGuardPdf,              kSkip,    Bits({kPdf}),                   "PDF", kGuardPdf,                  true},
    {PlaceableWmf, {0, "\xD7"},          kGuardWmf,                          kSkip,    Bits({kWmf}),                   "WMF", kGuardWmf,                  true},
    {PlainWmf,     {0, "\x01"},          kGuardOle | kGuardWmf | kGuardSealed, kNext,    Bits({kWmf}),                   "WMF", kGuardWmf,                  true},
    {Wmv,          {0, "\x30"},          kGuardZip,                          kSkip,    Bits({kWmv}),                   "WMV", kGuardWmv,                  true},
    {Asx,          {0, "<"},             kGuardZip,                          kNext,    Bits({kAsx}),                   "ASX", kGuardNone,                 true},
    {Png,          {0, "\x89"},          kGuardZip | kGuardPng,              kSkip,    Bits({kPng}),                   "PNG", kGuardPng,                  true},
    {OleFragment,  {0, "\xD0"},          kGuardZip,                          kNext,    Bits({kDoc}),                   "DOC", kGuardNone,                 true},
    {Rtf,          {0, "{"},             kGuardZip,                          kNext,    Bits({kRtf}),                   "RTF", kGuardNone,                 true},
    {Raf,          {0, "", "FU"},        kGuardZip | kGuardRaf,              kNext,    Bits({kRaf}),                   "RAF", kGuardRaf | kGuardPicture,  true},
    {Crw,          {0, "IM"},            kGuardZip | kGuardCrw,              kNext,    Bits({kCrw}),                   "CRW", kGuardCrw | kGuardPicture,  true},
    {Mrw,          {0, kNul},            kGuardZip | kGuardMrw | kGuardJpeg, kNext,    Bits({kMrw}),                   "MRW", kGuardMrw | kGuardPicture,  true},
    {Msv,          {0, "", "MS"},        kGuardZip | kGuardMsv,              kNext,    Bits({kMsv}),                   "MSV", kGuardMsv,                  false},
    {Msf,          {0, "", "MS"},        kGuardZip | kGuardMsf,              kNext,    Bits({kMsf}),                   "MSF", kGuardMsf,                  false},
    {JpegQuant,    {0, "\xFF"},          kGuardZip | kGuardPicture | kGuardJpeg | kVideoOrRaw | kGuardSealed, kNext, Bits({kJpg}),                 "JPG", kGuardJpeg,                 true},
    {Pst,          {0, "!"},             kGuardNone,                         kNext,    Bits({kPst}),                   "PST", kGuardNone,                 false},
    {Jpeg,         {0, "\xFF"},          kGuardZip | kGuardOle | kGuardMp3 | kGuardMpg | kGuardJpeg | kVideoOrRaw | kGuardSealed, kNext, Bits({kJpg}),  "JPG", kGuardJpeg,                 true},
    {X3f,          {0, "", "FO"},        kGuardX3f | kGuardSealed,           kNext,    Bits({kX3f}),                   "X3F", kGuardX3f | kGuardPicture,  false},
    {Compound,     {0, "\xD0"},          kGuardNone,                         kNext,    Bits({kPpt, kXls, kDoc}),       "PPT", kGuardOle | kGuardPicture,  false},
    {Mp3,          {0, "I"},             kGuardZip | kGuardSealed,           kNext,    Bits({kMp3}),                   "MP3", kGuardMp3,                  true},
    {Mp3Frames,    {0, "\xFF"},          kGuardAny,                          kNext,    Bits({kMp3}),                   "MP3", kGuardMp3,                  true},
}};
// clang-format on

// Where "go on at the RTF row" lands.
constexpr size_t RowIndexOf(Signature test) {
  for (size_t i = 0; i < kRows.size(); ++i) {
    if (kRows[i].test == test) return i;
  }
  return kRows.size();
}
constexpr size_t kRtfRow = RowIndexOf(Rtf);
static_assert(kRtfRow < kRows.size());

constexpr bool SkipsOnlyForward() {
  for (size_t i = kRtfRow; i < kRows.size(); ++i) {
    if (kRows[i].on_guard == OnGuard::kSkipToRtf || kRows[i].test == PlaceableWmf) return false;
  }
  return true;
}
static_assert(SkipsOnlyForward(), "a row that goes on at the RTF row must come before it");

// Sets of rows, one bit per row in table order.
using RowSet = uint64_t;
static_assert(kRows.size() <= 64);

constexpr size_t CountPairs() {
  size_t count = 0;
  for (size_t i = 0; i < kRows.size(); ++i) {
    bool seen = false;
    for (size_t j = 0; j < i; ++j) seen = seen || kRows[j].gate.pair == kRows[i].gate.pair;
    if (!kRows[i].gate.pair.empty() && !seen) ++count;
  }
  return count;
}

// The gates of all rows as lookup tables: the rows each byte at offset 0 and 4 lets through,
// the distinct pairs and the rows each lets through, and the rows tried on every sector.
struct Gates {
  std::array<RowSet, 256> at0{};
  std::array<RowSet, 256> at4{};
  std::array<BytePair, CountPairs()> pairs{};
  std::array<RowSet, CountPairs()> pair_rows{};
  RowSet always = 0;
};

constexpr Gates MakeGates() {
  Gates gates;
  size_t pair_count = 0;
  for (size_t i = 0; i < kRows.size(); ++i) {
    const Gate& gate = kRows[i].gate;
    const RowSet row = RowSet{1} << i;
    if (gate.leads.empty() && gate.pair.empty()) gates.always |= row;
    for (char lead : gate.leads) {
      (gate.offset == 0 ? gates.at0 : gates.at4)[static_cast<uint8_t>(lead)] |= row;
    }
    if (gate.pair.empty()) continue;
    const BytePair pair{static_cast<uint8_t>(gate.pair[0]), static_cast<uint8_t>(gate.pair[1])};
    size_t k = 0;
    while (k < pair_count &&
           (gates.pairs[k].first != pair.first || gates.pairs[k].second != pair.second)) {
      ++k;
    }
    if (k == pair_count) gates.pairs[pair_count++] = pair;
    gates.pair_rows[k] |= row;
  }
  return gates;
}
constexpr Gates kGates = MakeGates();

// The rows whose gate the sector passes. Text-searching tests read the header's first
// SectorHeader::kBytes bytes, so the pairs are looked for there.
template <size_t Width>
[[gnu::always_inline]] inline RowSet RowsToTryWith(const SectorInput& in) {
  const uint8_t* d = in.data;
  RowSet rows = kGates.always | kGates.at0[d[0]] | kGates.at4[d[4]];
  for (uint32_t found = PairsPresent<Width>(d, SectorHeader::kBytes, kGates.pairs); found != 0;
       found &= found - 1) {
    rows |= kGates.pair_rows[static_cast<size_t>(std::countr_zero(found))];
  }
  // Every signature holds a non-zero byte inside the sector: a sector of zeros starts nothing.
  if (rows != 0 && d[0] == 0 && in.count > 0 && std::memcmp(d, d + 1, in.count - 1) == 0) return 0;
  return rows;
}

// The pair search is most of a plain sector's cost: where the processor has AVX2, it runs on
// 32-byte vectors.
#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("avx2"))) RowSet RowsToTryAvx2(const SectorInput& in) {
  return RowsToTryWith<32>(in);
}

RowSet RowsToTry(const SectorInput& in) {
  static const bool avx2 = __builtin_cpu_supports("avx2");
  return avx2 ? RowsToTryAvx2(in) : RowsToTryWith<16>(in);
}
#else
RowSet RowsToTry(const SectorInput& in) {
  return RowsToTryWith<16>(in);
}
#endif

DispatchVerdict StopCheck(const CarveEngine& engine) {
  return engine.stopped() ? DispatchVerdict::kStopScan : DispatchVerdict::kContinue;
}

}  // namespace

uint64_t RowsTriedOnSector(const SectorInput& in) {
  return RowsToTry(in);
}

uint64_t RowsMatchingSector(const CarveEngine& engine, const SectorInput& in) {
  const SectorHeader header(in);
  const CarveView view = engine.View(in);
  const RowInput input{header, in, view};
  RowSet rows = 0;
  for (size_t i = 0; i < kRows.size(); ++i) {
    Start start;
    if (kRows[i].test(input, &start) != Match::kNo) rows |= RowSet{1} << i;
  }
  return rows;
}

DispatchVerdict DispatchSector(CarveEngine& engine, const SectorInput& in) {
  RowSet rows = RowsToTry(in);
  if (rows != 0) {
    const SectorHeader header(in);
    const CarveView view = engine.View(in);
    const RowInput input{header, in, view};
    // Filled in by the row whose header matches (made once: most sectors match no row).
    Start start;
    while (rows != 0) {
      const auto i = static_cast<size_t>(std::countr_zero(rows));
      rows &= rows - 1;
      const Row& row = kRows[i];
      const Match match = row.test(input, &start);
      if (match == Match::kNo) continue;
      if (match == Match::kDrop) return DispatchVerdict::kContinue;
      if (match == Match::kSkipToRtf || (engine.open_guards() & row.guarded_by) != 0) {
        if (match == Match::kSkipToRtf || row.on_guard == OnGuard::kSkipToRtf) {
          rows &= ~((RowSet{1} << kRtfRow) - 1);
        }
        continue;
      }
      // A header that starts a file ends the open one, whether or not its type is selected.
      engine.Finish();
      if (match == Match::kFinishAndDrop) return DispatchVerdict::kContinue;
      if ((engine.selected() & row.selection) == 0) continue;
      const char* extension = start.extension != nullptr ? start.extension : row.extension;
      if (!engine.Open(extension, row.guards | start.guards, std::move(start.state), in)) continue;
      return row.stop_check ? StopCheck(engine) : DispatchVerdict::kContinue;
    }
  }
  if (!engine.is_open()) return DispatchVerdict::kContinue;
  engine.Feed(in);
  return StopCheck(engine);
}

}  // namespace kestrel
