#pragma once
// Standard MIDI files: the header chunk and the number of track chunks it announces, each
// followed by its length. A file that announces 0xFFFF tracks is taken to hold one.

#include <cstdint>

#include "carve/format.h"

namespace kestrel {

struct MidiState {
  bool started = false;
  uint32_t tracks_left = 0;  // track chunks still expected, plus one
  uint64_t track_left = 0;   // bytes of the current track chunk still to come
  bool complete = false;     // the end was found; later sectors are not part of the file
};

Fed FeedMidi(MidiState& state, const CarveView& view);
Kept FinishMidi(const MidiState& state);

}  // namespace kestrel
