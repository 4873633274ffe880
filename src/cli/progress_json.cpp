#include "cli/progress_json.h"

#include <cmath>

namespace kestrel {
namespace {

std::string Number(std::optional<double> value, const char* format) {
  if (!value || !std::isfinite(*value)) return "null";
  char text[64];
  std::snprintf(text, sizeof text, format, *value);
  return text;
}

}  // namespace

ProgressFigures FiguresOf(uint64_t done, uint64_t total, double seconds) {
  ProgressFigures figures;
  const double done_bytes = static_cast<double>(done);
  figures.percent = total == 0 ? 100.0 : done_bytes * 100.0 / static_cast<double>(total);
  if (seconds >= 0.5 || (done >= total && seconds > 0))
    figures.mb_per_s = done_bytes / seconds / 1e6;
  if (done > 0 && seconds > 0 && done <= total) {
    figures.seconds_left = seconds * static_cast<double>(total - done) / done_bytes;
  }
  return figures;
}

std::string ProgressJson(const ScanProgress& progress, double seconds) {
  const ProgressFigures f = FiguresOf(progress.bytes_done, progress.bytes_total, seconds);
  return "{\"bytes_done\": " + std::to_string(progress.bytes_done) +
         ", \"bytes_total\": " + std::to_string(progress.bytes_total) +
         ", \"percent\": " + Number(f.percent, "%.2f") +
         ", \"mb_per_s\": " + Number(f.mb_per_s, "%.1f") +
         ", \"seconds_left\": " + Number(f.seconds_left, "%.0f") +
         ", \"files_recovered\": " + std::to_string(progress.files_recovered) + "}";
}

void JsonProgressWriter::operator()(const ScanProgress& progress) {
  const auto now = std::chrono::steady_clock::now();
  const bool last = progress.bytes_done >= progress.bytes_total;
  if (last_ && !last && now - *last_ < std::chrono::seconds(1)) return;
  last_ = now;
  const double seconds = std::chrono::duration<double>(now - started_).count();
  std::fprintf(out_, "%s\n", ProgressJson(progress, seconds).c_str());
  std::fflush(out_);
}

}  // namespace kestrel
