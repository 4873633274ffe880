#pragma once
// What an open file keeps from starting: a header of a kind it guards starts nothing while it is
// open (inside an open ZIP no header starts a file; inside an open MPEG a JPEG header starts
// nothing). Each module declares the marks it sets and is guarded by as
// `inline constexpr GuardMark`; a mark's identity is its name, unique among the modules (names,
// not addresses, because addresses of different objects do not compare at compile time under
// every compiler's sanitizers). The dispatch gives every mark its rows name one bit of a
// GuardSet when it builds its tables.

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string_view>

namespace kestrel {

struct GuardMark {
  std::string_view name;  // the mark's identity
};

// The marks of an open file, one bit per mark as the dispatch numbers them.
using GuardSet = uint64_t;
inline constexpr GuardSet kNoGuards = 0;
// The one bit no mark is given: an open file with only it keeps out only the rows guarded by
// every mark (weak signatures, such as audio frames, that start nothing inside any guarding file).
inline constexpr GuardSet kEveryMarkOnly = GuardSet{1} << 63;

// A few guard marks, or every mark, as a row names them.
class GuardList {
 public:
  static constexpr size_t kCapacity = 12;

  constexpr GuardList() = default;
  constexpr GuardList(std::initializer_list<const GuardMark*> marks) {
    if (marks.size() > kCapacity) throw "a row names more guard marks than a GuardList holds";
    for (const GuardMark* mark : marks) marks_[count_++] = mark;
  }
  // Every mark: the row is guarded by any open file that guards anything.
  static constexpr GuardList Every() {
    GuardList list;
    list.every_ = true;
    return list;
  }

  constexpr bool every() const { return every_; }
  constexpr const GuardMark* const* begin() const { return marks_.data(); }
  constexpr const GuardMark* const* end() const { return marks_.data() + count_; }

 private:
  std::array<const GuardMark*, kCapacity> marks_{};
  size_t count_ = 0;
  bool every_ = false;
};

}  // namespace kestrel
