#pragma once
// The open carved file as the engine sees it: an object made by the header's signature row that
// follows the file sector by sector and decides at its end how it is kept. A module whose state
// is a plain struct names its feed and finish once (FormatOps) and gets its open file from
// MakeOpenFormat.

#include <memory>
#include <type_traits>
#include <utility>

#include "carve/format.h"

namespace kestrel {

class OpenFormat {
 public:
  virtual ~OpenFormat() = default;
  // Hands the open file one sector: how many bytes it takes and whether it goes on.
  virtual Fed Feed(const CarveView& view) = 0;
  // Keep or drop, cut length and final extension, for a run with the `selected` types.
  virtual Kept Finish(const TypeSet& selected) const = 0;
  // A copy of the file's state, and taking the state of `other` (a copy of this same file).
  virtual std::unique_ptr<OpenFormat> Clone() const = 0;
  virtual void CopyFrom(const OpenFormat& other) = 0;
};

// The feed and finish of a module's state, named by the module beside its state:
//   template <> struct FormatOps<FooState> : Ops<FeedFoo, FinishFoo> {};
// A finish takes the run's selected types or not, as it needs.
template <typename State>
struct FormatOps;

template <auto feed, auto finish>
struct Ops {
  static constexpr auto kFeed = feed;
  static constexpr auto kFinish = finish;
};

template <typename State>
class OpenState final : public OpenFormat {
 public:
  explicit OpenState(State state) : state_(std::move(state)) {}

  Fed Feed(const CarveView& view) override { return FormatOps<State>::kFeed(state_, view); }

  Kept Finish(const TypeSet& selected) const override {
    constexpr auto finish = FormatOps<State>::kFinish;
    if constexpr (std::is_invocable_v<decltype(finish), const State&, const TypeSet&>) {
      return finish(state_, selected);
    } else {
      return finish(state_);
    }
  }

  std::unique_ptr<OpenFormat> Clone() const override { return std::make_unique<OpenState>(state_); }
  void CopyFrom(const OpenFormat& other) override {
    state_ = static_cast<const OpenState&>(other).state_;
  }

 private:
  State state_;
};

template <typename State>
std::unique_ptr<OpenFormat> MakeOpenFormat(State state) {
  return std::make_unique<OpenState<State>>(std::move(state));
}

}  // namespace kestrel
