#pragma once
// How a recovery run ended, for the front ends (the window restores its idle state, the
// command line chooses its exit status).

#include <cstdint>

namespace kestrel {

enum class RunOutcome {
  kCompleted,  // ran to its end (message 112 or 1193 shown)
  kRefused,    // refused or failed before or while reading (its message shown)
  kCancelled,  // Cancel answered Yes
  kAborted,    // Abort at a read error
  kStopped,    // stopped by a write failure (its message shown)
};

struct RunResult {
  RunOutcome outcome = RunOutcome::kRefused;
  uint32_t recovered = 0;    // files recovered in the run
  int message_id = 0;        // the last message the run showed (0 when none)
  uint32_t not_written = 0;  // files found but not written (no room, a refused path, ...)
};

}  // namespace kestrel
