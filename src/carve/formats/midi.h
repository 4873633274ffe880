#pragma once
// Standard MIDI files: the header chunk and the number of track chunks it announces, each
// followed by its length. A file that announces 0xFFFF tracks is taken to hold one.

#include <cstdint>

#include "carve/format.h"
#include "carve/formats/zip.h"
#include "carve/signature.h"

namespace kestrel {

struct MidiState {
  bool started = false;
  uint32_t tracks_left = 0;  // track chunks still expected, plus one
  uint64_t track_left = 0;   // bytes of the current track chunk still to come
  bool complete = false;     // the end was found; later sectors are not part of the file
};

Fed FeedMidi(MidiState& state, const CarveView& view);
Kept FinishMidi(const MidiState& state);

template <>
struct FormatOps<MidiState> : Ops<FeedMidi, FinishMidi> {};

inline constexpr GuardMark kMidiGuard{"MIDI"};

Match MatchMidi(const RowInput& r, Start* s);
inline constexpr SignatureRow kMidiRow{.test = MatchMidi,
                                       .gate = {0, "M"},
                                       .guarded_by = {&kZipGuard, &kMidiGuard},
                                       .selection = Bits({kMid}),
                                       .extension = "MID",
                                       .guards = {&kMidiGuard}};

}  // namespace kestrel
