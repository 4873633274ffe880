#pragma once
// A workbook stream's BIFF records (XLS) followed as far as its bytes are known, for placing the
// stream's pieces: each record header must be able to stand (compound_doc_streams.h), substreams
// open and close, the workbook globals hold no rows, and in a sheet the rows go on: ROW records
// name rows in ascending order and cell records rows that do not go back, each a few rows past
// the one before. A piece from elsewhere in the stream names other rows.

#include <cstdint>
#include <functional>

namespace kestrel {

// Where the walk stands: the next record's offset in the stream, the substreams open, the last
// rows named, the records followed; `done` past the last substream.
struct BiffCursor {
  uint64_t at = 0;
  int depth = 0;
  int64_t last_row = -1, last_cell_row = -1;  // -1: none yet in this substream
  bool in_globals = false;                    // in the workbook globals, which hold no cells
  // The first rows of a sheet are taken to be near its top (for telling a piece that starts a
  // sheet's rows from one that goes on with them further down).
  bool rows_from_top = false;
  uint64_t followed = 0;
  bool done = false;
};

// Copies `n` bytes at stream offset `at` to `out`; false where they are not known.
using StreamBytes = std::function<bool(uint64_t at, uint8_t* out, size_t n)>;

// Follows the records of a stream of `size` bytes from `cursor` up to the first whose bytes are
// not known (the cursor stays there) or past the last substream. False when a record cannot
// stand where it is.
bool FollowBiffRecords(BiffCursor& cursor, uint64_t size, const StreamBytes& bytes);

}  // namespace kestrel
