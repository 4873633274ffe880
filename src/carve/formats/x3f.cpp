#include "carve/formats/x3f.h"

#include <algorithm>
#include <cstring>

#include "platform/byte_order.h"

namespace kestrel {
namespace {

// "SECd", version and entry count, then 12 bytes per entry, then the 32-bit directory offset
// that ends the file.
constexpr uint64_t kDirectoryOverhead = 16;
constexpr uint64_t kEntryBytes = 12;

// Offset of the first "SECd" that starts in the sector (it may run into the following bytes),
// or `in.count` when there is none.
uint32_t FindDirectory(const SectorInput& in) {
  for (uint32_t i = 0; i < in.count; ++i) {
    if (std::memcmp(in.data + i, "SECd", 4) == 0) return i;
  }
  return in.count;
}

}  // namespace

Fed FeedX3f(X3fState& state, const CarveView& view) {
  const SectorInput& in = view.in;
  if (state.directory_left != 0) {
    const uint64_t length = std::min<uint64_t>(state.directory_left, in.count);
    state.directory_left -= length;
    state.complete = state.directory_left == 0;
    return state.complete ? Complete(length) : More(length);
  }
  const uint32_t start = FindDirectory(in);
  if (start == in.count) return More(in.count);
  const uint64_t entries = LoadLe32(in.data + start + 8);
  const uint64_t end = start + kEntryBytes * entries + kDirectoryOverhead;
  if (end <= in.count) {
    state.complete = true;
    return Complete(end);
  }
  state.directory_left = end - in.count;
  return More(in.count);
}

Kept FinishX3f(const X3fState& state) {
  return state.complete ? KeepAsIs() : Drop();
}

Match MatchX3f(const RowInput& r, Start* s) {
  return r.h.Contains("FOVb") ? Opens(s, X3fState{}) : Match::kNo;
}

}  // namespace kestrel
