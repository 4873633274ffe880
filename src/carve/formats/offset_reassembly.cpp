#include "carve/formats/offset_reassembly.h"

namespace kestrel {

std::vector<FilePiece> OffsetReassembly::Pieces() const {
  std::vector<FilePiece> pieces;
  uint64_t at = start_;
  for (const Gap& gap : gaps_) {
    if (gap.at > at) pieces.push_back({at, gap.at - at});
    at = gap.at + gap.length;
  }
  if (start_ + length_ > at) pieces.push_back({at, start_ + length_ - at});
  return pieces;
}

std::vector<FilePiece> OffsetReassembly::PiecesUpTo(uint64_t length) const {
  return kestrel::PiecesUpTo(Pieces(), length);
}

}  // namespace kestrel
