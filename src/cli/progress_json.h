#pragma once
// `kestrel-cli scan --progress json`: the scan's progress as one JSON object per line on stderr,
// for scripts and front ends, at most once a second besides the first and the last.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "run/progress_figures.h"
#include "run/run_progress.h"

namespace kestrel {

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
