// A workbook stream's BIFF records followed as far as its bytes are known: the rows of a sheet go
// on a few at a time, the workbook globals hold no cells, and the walk waits where bytes are not
// known yet and goes on from there.
#include "carve/formats/compound_doc_biff_cursor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrel {
namespace {

using Bytes = std::vector<uint8_t>;

void AddBiffRecord(Bytes& stream, uint16_t type, const Bytes& body) {
  const uint16_t length = static_cast<uint16_t>(body.size());
  stream.insert(stream.end(), {static_cast<uint8_t>(type), static_cast<uint8_t>(type >> 8),
                               static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8)});
  stream.insert(stream.end(), body.begin(), body.end());
}

// A BOF of a substream of `kind` (0x0005 the globals, 0x0010 a sheet).
void AddBiffBof(Bytes& stream, uint16_t kind) {
  AddBiffRecord(stream, 0x0809,
                {0x00, 0x06, static_cast<uint8_t>(kind), static_cast<uint8_t>(kind >> 8), 0, 0, 0,
                 0, 0, 0, 0, 0, 0, 0, 0, 0});
}

// A ROW record and a NUMBER cell of row `row`.
void AddBiffRowWithNumber(Bytes& stream, uint16_t row) {
  const uint8_t low = static_cast<uint8_t>(row), high = static_cast<uint8_t>(row >> 8);
  AddBiffRecord(stream, 0x0208, {low, high, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0x01, 0x0F, 0});
  AddBiffRecord(stream, 0x0203, {low, high, 0, 0, 0x0F, 0, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F});
}

Bytes BiffSheetOfRows(const std::vector<uint16_t>& rows, uint16_t kind = 0x0010) {
  Bytes stream;
  AddBiffBof(stream, kind);
  for (const uint16_t row : rows) AddBiffRowWithNumber(stream, row);
  AddBiffRecord(stream, 0x000A, {});
  return stream;
}

// Rows 0 and 1, then a cell of row 2 before the ROW record that lists row 2.
Bytes CellAheadOfItsRow() {
  Bytes stream = BiffSheetOfRows({0, 1});
  stream.resize(stream.size() - 4);  // the EOF
  AddBiffRecord(stream, 0x0203, {2, 0, 1, 0, 0x0F, 0, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F});
  AddBiffRecord(stream, 0x000A, {});
  return stream;
}

Bytes WithPadding(Bytes stream, size_t padding) {
  stream.resize(stream.size() + padding, 0);
  return stream;
}

// Follows `stream` with only its first `known` bytes known.
bool FollowKnownBytes(const Bytes& stream, BiffCursor& cursor, size_t known) {
  return FollowBiffRecords(cursor, stream.size(), [&](uint64_t at, uint8_t* out, size_t n) {
    if (at + n > known) return false;
    std::copy(stream.begin() + static_cast<ptrdiff_t>(at),
              stream.begin() + static_cast<ptrdiff_t>(at + n), out);
    return true;
  });
}

TEST(BiffCursor, RowsGoOnAFewAtATimeAndNotInTheGlobals) {
  struct Case {
    std::string what;
    Bytes stream;
    bool goes_on;
  };
  const std::vector<Case> cases = {
      {"rows one after another", BiffSheetOfRows({0, 1, 2, 3}), true},
      {"rows that skip a few", BiffSheetOfRows({0, 5, 30}), true},
      {"rows that skip far ahead", BiffSheetOfRows({0, 1, 200}), false},
      {"rows that go back", BiffSheetOfRows({0, 9, 4}), false},
      {"cells in the workbook globals", BiffSheetOfRows({0, 1}, 0x0005), false},
      {"a cell of a row not listed yet", CellAheadOfItsRow(), false},
      {"padding of less than a block", WithPadding(BiffSheetOfRows({0, 1}), 4095), true},
      {"a block of padding", WithPadding(BiffSheetOfRows({0, 1}), 4096), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    BiffCursor cursor;
    EXPECT_EQ(FollowKnownBytes(c.stream, cursor, c.stream.size()), c.goes_on);
    if (c.goes_on) {
      EXPECT_TRUE(cursor.done);
    }
  }
}

TEST(BiffCursor, WaitsWhereBytesAreNotKnownAndGoesOnFromThere) {
  const Bytes stream = BiffSheetOfRows({0, 1, 2, 3, 4, 5});
  BiffCursor cursor;
  ASSERT_TRUE(FollowKnownBytes(stream, cursor, 60));
  EXPECT_FALSE(cursor.done);
  EXPECT_LE(cursor.at, 60u);
  const uint64_t followed = cursor.followed;
  EXPECT_GT(followed, 0u);
  ASSERT_TRUE(FollowKnownBytes(stream, cursor, stream.size()));
  EXPECT_TRUE(cursor.done);
  EXPECT_GT(cursor.followed, followed);
  // A sheet's first rows taken from its top: a piece whose rows start far down does not start it.
  BiffCursor from_top;
  from_top.rows_from_top = true;
  const Bytes far_down = BiffSheetOfRows({400, 401});
  EXPECT_FALSE(FollowKnownBytes(far_down, from_top, far_down.size()));
}

}  // namespace
}  // namespace kestrel
