#pragma once
// The best of the continuations a search for a file's fragments tries, kept only when no other
// one is as good: two alike leave the fragment's place unknown, and nothing is put together.

#include <functional>
#include <utility>

namespace kestrel {

// `Better(a, b)`: whether the score `a` beats `b` (by default, a higher score does).
template <typename Candidate, typename Score, typename Better = std::greater<Score>>
class UniqueBest {
 public:
  UniqueBest() = default;
  explicit UniqueBest(Better better) : better_(better) {}

  void Offer(Candidate candidate, const Score& score) {
    if (!found_ || better_(score, score_)) {
      best_ = std::move(candidate);
      score_ = score;
      found_ = true;
      tied_ = false;
    } else if (!better_(score_, score)) {
      tied_ = true;
    }
  }

  // A best one was offered, and no other as good.
  bool Unique() const { return found_ && !tied_; }
  bool tied() const { return tied_; }
  Candidate& best() { return best_; }
  const Score& score() const { return score_; }

 private:
  Better better_{};
  Candidate best_{};
  Score score_{};
  bool found_ = false, tied_ = false;
};

}  // namespace kestrel
