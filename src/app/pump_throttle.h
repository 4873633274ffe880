#pragma once
// Lets a fast loop do something at most once per interval of a steady clock: the window's event
// processing and field updates during a run, so that a quick scan is not slowed by drawing.

#include <chrono>
#include <functional>

namespace kestrel {

class Throttle {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  explicit Throttle(
      std::chrono::milliseconds interval,
      Clock clock = [] { return std::chrono::steady_clock::now(); })
      : interval_(interval), clock_(std::move(clock)) {}

  // True at the first call after a Reset and then whenever `interval` has passed since the
  // last true.
  bool Due() {
    const auto now = clock_();
    if (fresh_ || now - last_ >= interval_) {
      fresh_ = false;
      last_ = now;
      return true;
    }
    return false;
  }
  void Reset() { fresh_ = true; }

 private:
  std::chrono::milliseconds interval_;
  Clock clock_;
  std::chrono::steady_clock::time_point last_{};
  bool fresh_ = true;
};

}  // namespace kestrel
