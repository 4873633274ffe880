#pragma once
// Length-driven files: formats whose header states the file's total length (AIF, AVI, BMP, CUR,
// ICO, MRW, MSF, MSV, PST, RAF, SND, WAV, WMF, WMV). Exactly that many bytes are taken.

#include <cstdint>

#include "carve/format.h"

namespace kestrel {

struct CountedState {
  uint64_t left = 0;  // bytes still expected
  // A file ended early by another header is kept with what it has (WMV).
  bool keep_unfinished = false;
};

// A stated length of 0 is no file.
Fed FeedCounted(CountedState& state, const CarveView& view);
Kept FinishCounted(const CountedState& state);

}  // namespace kestrel
