#include "run/progress_figures.h"

#include <cmath>
#include <cstdio>

namespace kestrel {
namespace {

std::string TwoDigits(long value) {
  return (value < 10 ? "0" : "") + std::to_string(value);
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

std::string FormatRate(uint64_t bytes, double seconds) {
  if (seconds < 0.5) return {};
  const double rate = static_cast<double>(bytes) / seconds / 1e6;
  char text[32];
  std::snprintf(text, sizeof text, rate < 10 ? "%.1f MB/s" : "%.0f MB/s", rate);
  return text;
}

std::string FormatTimeLeft(double seconds_left) {
  if (!std::isfinite(seconds_left) || seconds_left < 0) return {};
  const long left = std::lround(seconds_left);
  const long hours = left / 3600;
  const long minutes = left / 60 % 60;
  const std::string tail = TwoDigits(left % 60) + " left";
  if (hours > 0) return std::to_string(hours) + ":" + TwoDigits(minutes) + ":" + tail;
  return std::to_string(minutes) + ":" + tail;
}

std::string SpeedAndTimeLeft(const RunProgress& progress, double seconds) {
  std::string text = FormatRate(progress.bytes_done, seconds);
  const uint64_t done = progress.bytes_done, total = progress.bytes_total;
  if (total == 0 || done > total || done < total / 100) return text;
  const std::optional<double> left = FiguresOf(done, total, seconds).seconds_left;
  if (left) text += (text.empty() ? "" : ", ") + FormatTimeLeft(*left);
  return text;
}

}  // namespace kestrel
