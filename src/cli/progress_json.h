#pragma once
// `kestrel-cli scan --progress json`: the scan's progress as one JSON object per line on stderr,
// for scripts and front ends, at most once a second besides the first and the last.

#include <chrono>
#include <cstdint>
#include <cstdio>
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

// {"bytes_done": N, "bytes_total": N, "percent": P, "mb_per_s": R, "seconds_left": S,
//  "files_recovered": N}: percent to 2 decimals, rate to 1, seconds whole; unknown figures null.
std::string ProgressJson(const RunProgress& progress, double seconds);

class JsonProgressWriter {
 public:
  explicit JsonProgressWriter(std::FILE* out) : out_(out) {}
  void operator()(const RunProgress& progress);

 private:
  std::FILE* out_;
  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
  std::optional<std::chrono::steady_clock::time_point> last_;
};

}  // namespace kestrel
