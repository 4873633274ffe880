#include "carve/formats/compound_doc_biff_cursor.h"

#include "carve/formats/compound_doc_streams.h"
#include "platform/byte_order.h"

namespace kestrel {
namespace {

constexpr uint16_t kRow = 0x0208;
constexpr uint16_t kGlobals = 0x0005;  // the BOF's substream type of the workbook globals
// Records of one cell (or a run of cells in one row), the row first in their bodies.
constexpr uint16_t kCellRecords[] = {0x0006, 0x0201, 0x0203, 0x0204, 0x0205,
                                     0x027E, 0x00FD, 0x00BD, 0x00BE};
// Rows a sheet's records may skip from one to the next: more, and the records are taken for
// another part of the sheet or another workbook.
constexpr int64_t kMaxRowStep = 32;
// Records followed in one call: a few units' worth.
constexpr uint64_t kMaxRecordsPerCall = 1 << 16;

bool IsCell(uint16_t type) {
  for (const uint16_t cell : kCellRecords) {
    if (cell == type) return true;
  }
  return false;
}

// Whether `row` goes on from `last` (-1: none yet, which any row follows unless the first rows
// are taken from the top); `strict` when rows may not repeat.
bool RowGoesOn(int64_t last, int64_t row, bool strict, bool from_top) {
  if (last < 0 && !from_top) return true;
  return row >= last + (strict ? 1 : 0) && row - last <= kMaxRowStep;
}

}  // namespace

bool FollowBiffRecords(BiffCursor& cursor, uint64_t size, const StreamBytes& bytes) {
  for (uint64_t records = 0; !cursor.done && records < kMaxRecordsPerCall; ++records) {
    if (cursor.at >= size || size - cursor.at < 4) {
      // Padding after the last substream may end the stream; inside one, a record is cut.
      if (cursor.depth != 0) return false;
      cursor.done = true;
      break;
    }
    uint8_t header[4], body[4];
    if (!bytes(cursor.at, header, 4)) return true;
    const uint16_t type = LoadLe16(header), length = LoadLe16(header + 2);
    // Past the last substream comes padding, less than a block of it.
    if (cursor.depth == 0 && type != kBiffBof) {
      if (size - cursor.at >= kMaxBiffPadding) return false;
      cursor.done = true;
      break;
    }
    if (!BiffHeaderFits(type, length) || length > size - cursor.at - 4) return false;
    const bool cell = IsCell(type);
    if ((type == kRow || cell) && length >= 2) {
      if (cursor.in_globals) return false;
      if (!bytes(cursor.at + 4, body, 2)) return true;
      const int64_t row = LoadLe16(body);
      // A sheet lists a row (ROW) before its cells: once it lists rows, a cell of a row not
      // listed yet lies past a cut.
      if (cell && cursor.last_row >= 0 && row > cursor.last_row) return false;
      int64_t& last = cell ? cursor.last_cell_row : cursor.last_row;
      if (!RowGoesOn(last, row, !cell, cursor.rows_from_top)) return false;
      last = row;
    }
    if (type == kBiffBof) {
      if (!bytes(cursor.at + 4, body, 4)) return true;
      if (++cursor.depth > kMaxBiffDepth) return false;
      cursor.last_row = cursor.last_cell_row = -1;
      cursor.in_globals = cursor.depth == 1 && LoadLe16(body + 2) == kGlobals;
    } else if (type == kBiffEof) {
      --cursor.depth;
      cursor.in_globals = false;
    }
    cursor.at += 4 + length;
    ++cursor.followed;
  }
  return true;
}

}  // namespace kestrel
