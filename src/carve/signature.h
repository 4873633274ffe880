#pragma once
// What a carving module exports to the signature dispatch: one row per signature, with its
// signature test (which also opens the file's format with its start values), its gate, the
// guard marks that keep it from starting, the types it needs selected, its extension and the
// guard marks of the file it starts. The registry (carve/registry.h) lists the rows in the
// order they are tried.

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string_view>
#include <utility>

#include "carve/format.h"
#include "carve/guard_mark.h"
#include "carve/open_format.h"
#include "carve/sector_header.h"
#include "run/file_types.h"

namespace kestrel {

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

// What a matching signature test hands the dispatch: the open file's format with its start
// values, and what the header adds to the row.
struct Start {
  std::unique_ptr<OpenFormat> format;
  const char* extension = nullptr;   // null: the row's extension
  const GuardMark* guard = nullptr;  // a guard mark beside the row's
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

struct SignatureRow {
  Signature test;
  Gate gate;
  GuardList guarded_by;  // marks of an open file that keep this header from starting
  TypeSet selection;     // types of which at least one must be selected
  const char* extension;
  GuardList guards;                      // marks of the file it starts
  OnGuard on_guard = OnGuard::kNextRow;  // when an open file guards it
  bool stop_check = true;  // a failed write of the header sector stops the scan at once
  // Where a row that meets an invalid header or a guarding file "goes on at the RTF row" lands.
  bool skip_target = false;
};

// A file with its format's start values: the module's state, fed and finished as its
// FormatOps say.
template <typename State>
Match Opens(Start* start, State state, const char* extension = nullptr) {
  start->format = MakeOpenFormat(std::move(state));
  start->extension = extension;
  start->guard = nullptr;
  return Match::kYes;
}

constexpr TypeSet Bits(std::initializer_list<uint8_t> codes) {
  TypeSet bits;
  for (uint8_t code : codes) bits.Add(code);
  return bits;
}

// A picture or document measured from its own structure: the JPEG streams inside it start
// nothing.
inline constexpr GuardMark kMeasuredPictureGuard{"measured picture"};

}  // namespace kestrel
