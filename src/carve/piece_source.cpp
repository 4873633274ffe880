#include "carve/piece_source.h"

#include <algorithm>

namespace kestrel {

PieceSource::PieceSource(ByteSource& source, const std::vector<FilePiece>& pieces)
    : source_(source), pieces_(pieces) {
  starts_.reserve(pieces.size());
  for (const FilePiece& piece : pieces) {
    starts_.push_back(size_);
    size_ += piece.length;
  }
}

int64_t PieceSource::ReadAt(uint64_t offset, void* buffer, size_t length) {
  auto* out = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (done < length && offset < size_) {
    // The piece that holds `offset`: the last one starting at or before it.
    const size_t i = static_cast<size_t>(std::upper_bound(starts_.begin(), starts_.end(), offset) -
                                         starts_.begin() - 1);
    const uint64_t inside = offset - starts_[i];
    const size_t n =
        static_cast<size_t>(std::min<uint64_t>(length - done, pieces_[i].length - inside));
    const int64_t got = source_.ReadAt(pieces_[i].source_offset + inside, out + done, n);
    if (got < 0) return done > 0 ? static_cast<int64_t>(done) : -1;
    done += static_cast<size_t>(got);
    offset += static_cast<uint64_t>(got);
    if (static_cast<size_t>(got) < n) break;
  }
  return static_cast<int64_t>(done);
}

std::vector<FilePiece> PiecesUpTo(std::vector<FilePiece> pieces, uint64_t length) {
  uint64_t kept = 0;
  for (size_t i = 0; i < pieces.size(); ++i) {
    if (pieces[i].length >= length - kept) {
      pieces[i].length = length - kept;
      pieces.resize(pieces[i].length == 0 ? i : i + 1);
      return pieces;
    }
    kept += pieces[i].length;
  }
  return pieces;
}

bool InPieces(const std::vector<FilePiece>& pieces, uint64_t at, uint64_t open_end) {
  for (size_t i = 0; i < pieces.size(); ++i) {
    const FilePiece& piece = pieces[i];
    const uint64_t end = i + 1 < pieces.size() ? piece.source_offset + piece.length : open_end;
    if (at >= piece.source_offset && at < end) return true;
  }
  return false;
}

void AppendPiece(std::vector<FilePiece>& pieces, uint64_t at, uint64_t length) {
  if (length == 0) return;
  if (!pieces.empty() && pieces.back().source_offset + pieces.back().length == at) {
    pieces.back().length += length;
  } else {
    pieces.push_back({at, length});
  }
}

std::vector<FilePiece> GoingOnAt(const std::vector<FilePiece>& pieces, uint64_t cut, uint64_t next,
                                 uint64_t length) {
  std::vector<FilePiece> trial = pieces;
  trial.back().length = cut - trial.back().source_offset;
  trial.push_back({next, length});
  return trial;
}

uint64_t LastPieceFileOffset(const std::vector<FilePiece>& pieces) {
  uint64_t offset = 0;
  for (size_t i = 0; i + 1 < pieces.size(); ++i) offset += pieces[i].length;
  return offset;
}

bool PiecesStartWith(const std::vector<FilePiece>& longer, const std::vector<FilePiece>& shorter) {
  if (shorter.empty() || shorter.size() > longer.size()) return false;
  const size_t last = shorter.size() - 1;
  return std::equal(shorter.begin(), shorter.begin() + static_cast<ptrdiff_t>(last),
                    longer.begin()) &&
         shorter[last].source_offset == longer[last].source_offset &&
         shorter[last].length <= longer[last].length;
}

}  // namespace kestrel
