#include "carve/formats/rtf.h"

#include <algorithm>
#include <string_view>

namespace kestrel {
namespace {

using Lex = RtfState::Lex;

// The parameter of a control word is at most 10 digits; larger values stay at this bound.
constexpr uint64_t kParameterBound = uint64_t{1} << 40;

bool IsLetter(uint8_t c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsDigit(uint8_t c) {
  return c >= '0' && c <= '9';
}

// Control characters that RTF text never holds (line ends and tabs are allowed).
bool IsForeignControl(uint8_t c) {
  return c < 0x20 && c != '\n' && c != '\r' && c != '\t';
}

// Whether the control word read so far is `name`.
bool WordIs(const RtfState& s, std::string_view name) {
  return s.word_length == name.size() && std::string_view(s.word, s.word_length) == name;
}

// The control word ended at a delimiter: \binN starts N bytes of binary data; a character set
// word marks the document.
void EndWord(RtfState& s) {
  const bool binary = WordIs(s, "bin") && !s.negative && s.parameter > 0;
  if (WordIs(s, "ansi") || WordIs(s, "mac") || WordIs(s, "pc") || WordIs(s, "pca")) {
    s.charset = true;
  }
  s.binary_left = binary ? s.parameter : 0;
  s.lex = binary ? Lex::kBinary : Lex::kText;
}

// One byte of text (not inside a control word). False: not RTF.
bool TakeText(RtfState& s, uint8_t c) {
  switch (c) {
    case '\\':
      s.lex = Lex::kBackslash;
      return true;
    case '{':
      ++s.depth;
      return true;
    case '}':
      if (s.depth == 0) return false;
      if (--s.depth == 0) s.complete = true;
      return true;
    default:
      return !IsForeignControl(c);
  }
}

// One byte after a backslash, in a control word or in its parameter. False: not RTF.
bool TakeControl(RtfState& s, uint8_t c) {
  if (s.lex == Lex::kBackslash) {
    if (!IsLetter(c)) {  // a control symbol: \{ \} \\ \' \~ ... the byte is taken as it is
      s.lex = Lex::kText;
      return !IsForeignControl(c);
    }
    s.lex = Lex::kWord;
    s.word_length = 0;
    s.parameter = 0;
    s.negative = false;
  }
  if (s.lex == Lex::kWord) {
    if (IsLetter(c)) {
      if (s.word_length < sizeof s.word) s.word[s.word_length] = static_cast<char>(c);
      if (s.word_length < 0xFF) ++s.word_length;
      return true;
    }
    if (IsDigit(c) || c == '-') {
      s.lex = Lex::kParameter;
      s.negative = c == '-';
      s.parameter = s.negative ? 0 : uint64_t(c - '0');
      return true;
    }
  } else if (IsDigit(c)) {
    s.parameter = std::min(kParameterBound, s.parameter * 10 + uint64_t(c - '0'));
    return true;
  }
  // The delimiter: a space belongs to the control word, any other byte is taken as text (or,
  // after \binN, as the first byte of the data).
  EndWord(s);
  if (c == ' ') return true;
  if (s.lex == Lex::kBinary) {
    --s.binary_left;
    if (s.binary_left == 0) s.lex = Lex::kText;
    return true;
  }
  return TakeText(s, c);
}

// The line end that a writer or an editor puts after the closing brace (CR LF, LF or CR),
// counted from `at`; 0 when none follows.
uint32_t LineEndAfter(const SectorInput& in, uint32_t at) {
  const auto byte = [&](uint32_t k) { return in.HasBytes(at + k, 1) ? in.data[at + k] : 0; };
  if (byte(0) == '\r') return byte(1) == '\n' ? 2 : 1;
  return byte(0) == '\n' ? 1 : 0;
}

}  // namespace

RtfState StartRtf() {
  return {};
}

Fed FeedRtf(RtfState& s, const CarveView& view) {
  const SectorInput& in = view.in;
  if (view.written >= kRtfSizeCap) return Refuse();
  for (uint32_t i = 0; i < in.count; ++i) {
    if (s.lex == Lex::kBinary) {
      const uint64_t skip = std::min<uint64_t>(s.binary_left, in.count - i);
      s.binary_left -= skip;
      i += static_cast<uint32_t>(skip) - 1;
      if (s.binary_left == 0) s.lex = Lex::kText;
      continue;
    }
    const uint8_t c = in.data[i];
    const bool ok = s.lex == Lex::kText ? TakeText(s, c) : TakeControl(s, c);
    if (!ok) return Refuse();
    if (s.complete) return Complete(uint64_t{i} + 1 + LineEndAfter(in, i + 1));
  }
  return More(in.count);
}

Kept FinishRtf(const RtfState& state) {
  return state.complete && state.charset ? KeepAsIs() : Drop();
}

Match MatchRtf(const RowInput& r, Start* s) {
  return r.h.StartsWith(0, "{\\rtf1") ? Opens(s, StartRtf()) : Match::kNo;
}

}  // namespace kestrel
