#include "carve/formats/counted.h"

namespace kestrel {

Fed FeedCounted(CountedState& state, const CarveView& view) {
  if (state.left == 0) return Refuse();
  const uint32_t count = view.in.count;
  if (count < state.left) {
    state.left -= count;
    return More(count);
  }
  const uint64_t rest = state.left;
  state.left = 0;
  return Complete(rest);
}

Kept FinishCounted(const CountedState& state) {
  return state.left == 0 || state.keep_unfinished ? KeepAsIs() : Drop();
}

}  // namespace kestrel
