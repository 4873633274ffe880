#pragma once
// A carved file whose bytes lie in several pieces of the source (a file that went on after
// another file in its gap), read as one source from its first byte.

#include <cstdint>
#include <vector>

#include "platform/byte_source.h"

namespace kestrel {

// Bytes [source_offset, source_offset + length) of the source, as one piece of a file.
struct FilePiece {
  uint64_t source_offset = 0;
  uint64_t length = 0;
  bool operator==(const FilePiece&) const = default;
};

// Whether byte `at` of the source lies in one of `pieces`, the last of which is taken to end at
// `open_end` (a piece whose end is still being looked for).
bool InPieces(const std::vector<FilePiece>& pieces, uint64_t at, uint64_t open_end);

// Appends bytes [at, at + length) of the source to `pieces`: onto the last piece when they go on
// from its end.
void AppendPiece(std::vector<FilePiece>& pieces, uint64_t at, uint64_t length);

// The file offset where the last of `pieces` starts.
uint64_t LastPieceFileOffset(const std::vector<FilePiece>& pieces);

// Whether the file laid out as `longer` starts with the one laid out as `shorter`.
bool PiecesStartWith(const std::vector<FilePiece>& longer, const std::vector<FilePiece>& shorter);

// `pieces` with the last one cut to end at source offset `cut` (a unit boundary inside it) and
// the `length` bytes at `next` after it: where a search tries the file going on after a cut.
std::vector<FilePiece> GoingOnAt(const std::vector<FilePiece>& pieces, uint64_t cut, uint64_t next,
                                 uint64_t length);

// `pieces` cut to a file of their first `length` bytes.
std::vector<FilePiece> PiecesUpTo(std::vector<FilePiece> pieces, uint64_t length);

class PieceSource : public ByteSource {
 public:
  PieceSource(ByteSource& source, const std::vector<FilePiece>& pieces);

  int64_t ReadAt(uint64_t offset, void* buffer, size_t length) override;
  uint64_t Size() const override { return size_; }
  int LastError() const override { return source_.LastError(); }

 private:
  ByteSource& source_;
  const std::vector<FilePiece>& pieces_;
  std::vector<uint64_t> starts_;  // each piece's first byte in the file
  uint64_t size_ = 0;
};

}  // namespace kestrel
