#pragma once
// RTF: braces are balanced from the first "{" to the "}" that closes it; the file ends right
// after that brace. Escaped braces (\{ and \}) are text, and the N bytes of \binN data are
// skipped unread. Outside binary data an RTF file is text: a start whose bytes hold other control
// characters is refused. A document names its character set (\ansi, \mac, \pc or \pca) in its
// header: a balanced group without one is not kept.

#include <cstdint>

#include "carve/format.h"
#include "carve/formats/zip.h"
#include "carve/signature.h"

namespace kestrel {

// A safety bound only: an RTF whose outermost group stays open this long (a million unmatched
// "{", a runaway \bin count) is refused. Documents with embedded pictures reach tens of MB;
// none comes near 512 MiB.
inline constexpr uint64_t kRtfSizeCap = uint64_t{512} << 20;

struct RtfState {
  enum class Lex : uint8_t {
    kText,       // plain text
    kBackslash,  // right after a backslash
    kWord,       // inside a control word's letters
    kParameter,  // inside a control word's numeric parameter
    kBinary,     // inside \bin data
  };
  Lex lex = Lex::kText;
  uint64_t depth = 0;        // open groups
  uint64_t binary_left = 0;  // \bin bytes still to skip
  uint64_t parameter = 0;    // the control word's parameter so far
  bool negative = false;     // the parameter has a minus sign
  uint8_t word_length = 0;   // letters of the control word so far
  char word[5] = {};         // its first letters (the words looked for are short)
  bool charset = false;      // a character set word was seen
  bool complete = false;     // the outermost group was closed
};

RtfState StartRtf();
Fed FeedRtf(RtfState& state, const CarveView& view);
Kept FinishRtf(const RtfState& state);

template <>
struct FormatOps<RtfState> : Ops<FeedRtf, FinishRtf> {};

// Also where a row whose header is not valid, or is guarded, goes on (Match::kSkipToRtf).
Match MatchRtf(const RowInput& r, Start* s);
inline constexpr SignatureRow kRtfRow{.test = MatchRtf,
                                      .gate = {0, "{"},
                                      .guarded_by = {&kZipGuard},
                                      .selection = Bits({kRtf}),
                                      .extension = "RTF",
                                      .guards = {},
                                      .skip_target = true};

}  // namespace kestrel
