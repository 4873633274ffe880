#include "carve/end_marker.h"

#include <algorithm>
#include <cstring>

namespace kestrel {
namespace {

using OpenFlag = bool CarveState::*;
// Whether the end sequence starts at `p` (it may read a few dozen bytes from `p`).
using EndTest = bool (*)(const uint8_t* p);

struct EndRule {
  uint8_t type_code;
  EndTest starts_at;
  uint32_t bytes_from_start;  // bytes written from the start of the end sequence
  OpenFlag open_flag;         // cleared when the file ends; null when the type has none
};

template <size_t N>
bool Matches(const uint8_t* p, const char (&text)[N]) {
  return std::memcmp(p, text, N - 1) == 0;
}

// Bytes from the sector's start that are real source data: the sector and what follows it.
uint64_t AvailableBytes(const SectorInput& in) {
  return uint64_t{in.count} + std::min(in.valid_after, kLookAhead);
}

// Writes the file through `end` (counted from the sector's start), marks it complete, clears its
// open flag and finishes it. Past the end of the source the file ends with what exists.
void EndFile(CarveSession& s, const SectorInput& in, uint64_t end, uint8_t code, OpenFlag flag) {
  s.Write(in, static_cast<size_t>(std::min(end, AvailableBytes(in))));
  s.st.file_complete = true;
  if (flag != nullptr) s.st.*flag = false;
  s.FinishCarvedFile(code);
}

void CarveToEnd(CarveSession& s, const SectorInput& in, const EndRule& rule) {
  if (!s.st.file_open) return;
  for (uint32_t i = 0; i < in.count; ++i) {
    if (rule.starts_at(in.data + i)) {
      EndFile(s, in, uint64_t{i} + rule.bytes_from_start, rule.type_code, rule.open_flag);
      return;
    }
  }
  s.Write(in, in.count);
}

bool IsTagText(uint8_t byte) {
  return byte == 0 || (byte >= 0x20 && byte < 0x7F);
}

// An ID3v1 tag: "TAG" and 29 bytes that are printable or 0.
bool Id3v1TagAt(const uint8_t* p) {
  return Matches(p, "TAG") && std::all_of(p + 3, p + 32, IsTagText);
}

constexpr EndRule kMpgEnd{kMpg, [](const uint8_t* p) { return Matches(p, "\x00\x00\x01\xB9"); }, 4,
                          &CarveState::mpg_open};
constexpr EndRule kAsxEnd{
    kAsx, [](const uint8_t* p) { return Matches(p, "</ASX>") || Matches(p, "</asx>"); }, 6,
    nullptr};
constexpr EndRule kPngEnd{kPng, [](const uint8_t* p) { return Matches(p, "IEND\xAE\x42\x60\x82"); },
                          8, &CarveState::png_open};
constexpr EndRule kOleDocEnd{kDoc, [](const uint8_t* p) { return Matches(p, "\xF4\x39\xB2\x71"); },
                             4, nullptr};
constexpr EndRule kMp3End{kMp3, Id3v1TagAt, 128, &CarveState::mp3_open};

// Bytes of the line end that starts at `p`: CR LF, CR, LF, or none.
uint32_t LineEndBytes(const uint8_t* p) {
  if (p[0] == '\r' && p[1] == '\n') return 2;
  return (p[0] == '\r' || p[0] == '\n') ? 1 : 0;
}

// Length of the RTF closing pattern that starts at `p`, 0 when there is none.
uint32_t RtfClosingPatternAt(const uint8_t* p) {
  if (Matches(p, "\\par }}")) return 7;
  if (Matches(p, "\\par }") || Matches(p, "b\\\n\\\n}")) return 6;
  return 0;
}

// A closing pattern ends the file when nothing but zero bytes follows it up to the 16th byte
// from its start (the slack of the file's last cluster).
constexpr uint32_t kRtfTrailerBytes = 16;

bool OnlyZerosAfterPattern(const uint8_t* pattern, uint32_t length) {
  return std::all_of(pattern + length, pattern + kRtfTrailerBytes,
                     [](uint8_t byte) { return byte == 0; });
}

}  // namespace

void CarveMpg(CarveSession& s, const SectorInput& in) {
  CarveToEnd(s, in, kMpgEnd);
}
void CarveAsx(CarveSession& s, const SectorInput& in) {
  CarveToEnd(s, in, kAsxEnd);
}
void CarvePng(CarveSession& s, const SectorInput& in) {
  CarveToEnd(s, in, kPngEnd);
}
void CarveOleDoc(CarveSession& s, const SectorInput& in) {
  CarveToEnd(s, in, kOleDocEnd);
}
void CarveMp3(CarveSession& s, const SectorInput& in) {
  CarveToEnd(s, in, kMp3End);
}

void CarvePdf(CarveSession& s, const SectorInput& in) {
  CarveState& st = s.st;
  if (!st.file_open) return;
  // Nothing written yet: this is the header sector of a new PDF.
  if (s.out().Length() == 0) st.pdf_eof_skips = 0;
  for (uint32_t i = 0; i < in.count; ++i) {
    const uint8_t* p = in.data + i;
    if (!Matches(p, "%%EOF")) continue;
    st.file_complete = true;
    // At most one "%%EOF" followed by two filler spaces is passed over.
    if (st.pdf_eof_skips == 0 && p[7] == ' ' && p[8] == ' ') {
      st.pdf_eof_skips += 1;
      continue;
    }
    st.pdf_eof_skips = 0;
    EndFile(s, in, uint64_t{i} + 5 + LineEndBytes(p + 5), kPdf, &CarveState::pdf_open);
    return;
  }
  s.Write(in, in.count);
}

void CarveRtf(CarveSession& s, const SectorInput& in) {
  if (!s.st.file_open) return;
  for (uint32_t i = 0; i < in.count; ++i) {
    const uint8_t* p = in.data + i;
    const uint32_t length = RtfClosingPatternAt(p);
    if (length == 0) continue;
    s.st.file_complete = true;
    if (OnlyZerosAfterPattern(p, length)) {
      EndFile(s, in, uint64_t{i} + length, kRtf, nullptr);
      return;
    }
  }
  s.Write(in, in.count);
}

}  // namespace kestrel
