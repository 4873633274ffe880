#pragma once
// The main streams of compound documents followed record by record, for the whole-file check
// (compound_doc_check.h): the sector chains of a stream can be whole while a block inside its
// data was replaced, and the records of the main streams notice that.
//
// - Workbook / Book (XLS): BIFF records (type, length of at most 8224) chained from the first
//   byte: substreams from a BOF record to their EOF record (charts may nest inside a sheet),
//   and every sheet the workbook lists (BOUNDSHEET) starts at a substream's BOF. What follows
//   the last substream (padding) is not judged, but it is shorter than a 4096-byte block.
// - PowerPoint Document (PPT): records with 8-byte headers; a container holds exactly its
//   children, and top-level records run to the stream's end. Through the Current User stream,
//   the chain of edits (UserEditAtom) and their persist directories must point at top-level
//   records. Encrypted presentations (or a missing Current User stream) are unchecked.
// - WordDocument (DOC, Word 97 and later): the FIB's magic and fixed counts, the piece table
//   (in the 0Table or 1Table stream) whose pieces lie inside the WordDocument stream and end at
//   the character the FIB counts for all the stories, and the formatting pages (character and
//   paragraph FKPs) that the FIB's bin tables name, each a 512-byte page of ascending text
//   offsets. Encrypted and Word 6/95 documents are unchecked; text itself is not judged.

#include <cstdint>
#include <vector>

#include "carve/format.h"
#include "carve/formats/compound_doc_biff_cursor.h"
#include "carve/formats/file_window.h"

namespace kestrel {

// Records followed per stream; past it the stream is unchecked.
inline constexpr uint64_t kMaxStreamRecords = 4'000'000;

// A stream of a compound document, read at any offset: its bytes lie in the units `chain` (file
// sectors, or mini sectors of the mini stream, whose bytes lie in `container`).
class CompoundStream {
 public:
  // A stream in file sectors of `unit` bytes (sector k at file offset (k + 1) * unit).
  CompoundStream(FileWindow& file, uint32_t unit, uint64_t size, std::vector<uint32_t> chain);
  // A stream in mini sectors of `unit` bytes of the mini stream `container`.
  CompoundStream(CompoundStream& container, uint32_t unit, uint64_t size,
                 std::vector<uint32_t> chain);

  uint64_t size() const { return size_; }
  // Copies `n` bytes at `offset` of the stream; false past its end or when a read fails.
  bool Read(uint64_t offset, uint8_t* out, size_t n);

 private:
  FileWindow* file_ = nullptr;
  CompoundStream* container_ = nullptr;
  uint32_t unit_;
  uint64_t size_;
  std::vector<uint32_t> chain_;
};

Whole CheckWorkbookStream(CompoundStream& workbook);

// BIFF records that open and close a substream of a workbook stream.
inline constexpr uint16_t kBiffBof = 0x0809;
inline constexpr uint16_t kBiffEof = 0x000A;
// Whether a BIFF record header can stand in a workbook stream: a type in the known range, a
// length within the limit, the fixed length of the types that have one (a BOF's at least 4).
bool BiffHeaderFits(uint16_t type, uint16_t length);
// Writers pad a workbook stream after its last substream to a whole 4096-byte block at most:
// more bytes after it are another workbook's tail.
inline constexpr uint64_t kMaxBiffPadding = 4096;
// Substreams nest at most this deep (charts inside sheets).
inline constexpr int kMaxBiffDepth = 8;
// `current_user` may be null (the stream is missing).
Whole CheckPowerPointStream(CompoundStream& document, CompoundStream* current_user);
// Word's formatting pages (FKPs) in the WordDocument stream, and what the FIB says of them: the
// bin table of paragraph pages (offset and length in the table stream) and the pages' limits.
inline constexpr uint32_t kFormattingPageBytes = 512;
inline constexpr size_t kBinTablePapx = 0x102;
inline constexpr uint8_t kMaxPapxRuns = 0x1D;
inline constexpr size_t kPapxEntryBytes = 13;
// Whether the 512 bytes at `page` can be a formatting page of a WordDocument stream of
// `stream_size` bytes: 1 to `max_runs` runs whose text offsets ascend inside the stream, each
// run's property offset 0 or inside the page past the run table (`entry` bytes per run after the
// offsets).
bool FormattingPageFits(const uint8_t* page, uint64_t stream_size, uint8_t max_runs, size_t entry);

// The FIB's bytes up to and with the piece table's place (fcClx, lcbClx at kWordClxPlace).
inline constexpr size_t kWordFibBytes = 0x1AA;
inline constexpr size_t kWordClxPlace = 0x1A2;
// Whether the `kWordFibBytes` at `fib` are the FIB of an unencrypted Word 97 or later document:
// its magic, its version, its fixed counts of 16-bit, 32-bit and offset/length fields.
bool WordFibFits(const uint8_t* fib);
// Whether the piece table (the CLX the FIB `fib` places in a table stream of `table_size` bytes,
// read through `table`) fits: property runs, then one piece table that ends the CLX, its
// character positions ascending from 0 to the count the FIB gives for all the stories, every
// piece inside the WordDocument stream of `word_size` bytes.
Whole PieceTableFits(const uint8_t* fib, uint64_t word_size, uint64_t table_size,
                     const StreamBytes& table);

// The 0Table and 1Table streams, null when missing; the FIB says which one holds the tables.
Whole CheckWordStream(CompoundStream& word, CompoundStream* table0, CompoundStream* table1);

}  // namespace kestrel
