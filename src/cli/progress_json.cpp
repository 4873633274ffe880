#include "cli/progress_json.h"

#include <cmath>

#include "cli/json_text.h"

namespace kestrel {
namespace {

// `value` rounded to `decimals` places (a whole number when 0), null when unknown.
JsonObject Rounded(std::optional<double> value, int decimals) {
  if (!value || !std::isfinite(*value)) return nullptr;
  if (decimals == 0 && std::fabs(*value) < 1e15) return std::llround(*value);
  const double scale = std::pow(10.0, decimals);
  return std::round(*value * scale) / scale;
}

}  // namespace

std::string ProgressJson(const RunProgress& progress, double seconds) {
  const ProgressFigures f = FiguresOf(progress.bytes_done, progress.bytes_total, seconds);
  const JsonObject line = {
      {"bytes_done", progress.bytes_done},          {"bytes_total", progress.bytes_total},
      {"percent", Rounded(f.percent, 2)},           {"mb_per_s", Rounded(f.mb_per_s, 1)},
      {"seconds_left", Rounded(f.seconds_left, 0)}, {"files_recovered", progress.files_recovered}};
  return JsonLine(line);
}

void JsonProgressWriter::operator()(const RunProgress& progress) {
  const auto now = std::chrono::steady_clock::now();
  const bool last = progress.bytes_done >= progress.bytes_total;
  if (last_ && !last && now - *last_ < std::chrono::seconds(1)) return;
  last_ = now;
  const double seconds = std::chrono::duration<double>(now - started_).count();
  std::fprintf(out_, "%s\n", ProgressJson(progress, seconds).c_str());
  std::fflush(out_);
}

}  // namespace kestrel
