#pragma once
// A run's speed and time left, from the numbers it reports: the same figures and texts for the
// command line's progress line, its JSON progress and the window's progress page.

#include <cstdint>
#include <optional>
#include <string>

#include "run/run_progress.h"

namespace kestrel {

struct ProgressFigures {
  double percent = 0;                  // of the bytes the scan reads
  std::optional<double> mb_per_s;      // unknown in the first half second
  std::optional<double> seconds_left;  // unknown before the first byte is done
};

// The figures after `seconds` of a scan that has done `done` of `total` bytes.
ProgressFigures FiguresOf(uint64_t done, uint64_t total, double seconds);

// "12.5 MB/s" for `bytes` read in `seconds`; "" when too little time has passed to tell.
std::string FormatRate(uint64_t bytes, double seconds);
// "3:05 left" (or "1:02:03 left") for the seconds a run still needs.
std::string FormatTimeLeft(double seconds_left);

// "12.5 MB/s, 3:05 left" after `seconds` of a run at `progress`; the time left is unknown (and
// left out) before 1 % is done, the rate in the first half second.
std::string SpeedAndTimeLeft(const RunProgress& progress, double seconds);

}  // namespace kestrel
