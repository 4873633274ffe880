// Word's FIB, piece table and formatting pages (DOC): see compound_doc_streams.h.
#include <array>

#include "carve/formats/compound_doc_streams.h"
#include "platform/byte_order.h"

namespace kestrel {
namespace {

constexpr uint16_t kWordMagic = 0xA5EC;
constexpr uint16_t kFirstWord97Fib = 0xC1;
constexpr uint16_t kEncryptedFlag = 0x0100;
constexpr uint16_t kTable1Flag = 0x0200;
constexpr size_t kBinTableChpx = 0xFA;
constexpr size_t kCcpText = 0x4C;
// The character counts of the other stories (footnotes, headers, comments, endnotes, text boxes,
// header text boxes), after the main text's.
constexpr size_t kCcpOthers[] = {0x50, 0x54, 0x5C, 0x60, 0x64, 0x68};
constexpr uint32_t kPage = kFormattingPageBytes;
constexpr uint8_t kMaxChpxRuns = 0x65;
constexpr uint64_t kMaxPieces = 1'000'000;

// The formatting page number `page` of the WordDocument stream fits (FormattingPageFits).
bool PageOfStreamFits(CompoundStream& word, uint64_t page, uint8_t max_runs, size_t entry) {
  std::array<uint8_t, kPage> p;
  if (word.size() < kPage || page > word.size() / kPage - 1 ||
      !word.Read(page * kPage, p.data(), kPage)) {
    return false;
  }
  return FormattingPageFits(p.data(), word.size(), max_runs, entry);
}

// The bin table at `place` of the FIB (in the table stream) names formatting pages that fit.
bool BinTablePagesFit(CompoundStream& word, CompoundStream& table, const uint8_t* fib, size_t place,
                      uint8_t max_runs, size_t entry) {
  const uint32_t fc = LoadLe32(fib + place), lcb = LoadLe32(fib + place + 4);
  if (lcb == 0) return true;
  if (lcb < 4 || (lcb - 4) % 8 != 0 || fc > table.size() || lcb > table.size() - fc) return false;
  const uint64_t pages = (lcb - 4) / 8;
  for (uint64_t i = 0; i < pages; ++i) {
    uint8_t pn[4];
    if (!table.Read(fc + 4 * (pages + 1) + 4 * i, pn, 4)) return false;
    if (!PageOfStreamFits(word, LoadLe32(pn) & 0x3FFFFF, max_runs, entry)) return false;
  }
  return true;
}

// The character position the piece table must end at: the main text's count, and when any
// other story has text, all the stories' counts and one more.
uint64_t LastCharacter(const uint8_t* fib) {
  uint64_t others = 0;
  for (const size_t place : kCcpOthers) others += LoadLe32(fib + place);
  return LoadLe32(fib + kCcpText) + (others != 0 ? others + 1 : 0);
}

}  // namespace

Whole PieceTableFits(const uint8_t* fib, uint64_t word_size, uint64_t table_size,
                     const StreamBytes& table) {
  const uint32_t fc = LoadLe32(fib + kWordClxPlace), lcb = LoadLe32(fib + kWordClxPlace + 4);
  if (lcb == 0 || fc > table_size || lcb > table_size - fc) return Whole::kNo;
  const uint64_t end = uint64_t{fc} + lcb;
  uint64_t at = fc;
  uint8_t head[5];
  for (;;) {
    if (end - at < 5 || !table(at, head, 5)) return Whole::kNo;
    if (head[0] != 0x01) break;
    at += 3 + LoadLe16(head + 1);  // a property run: its grpprl's length, then the grpprl
  }
  const uint32_t bytes = LoadLe32(head + 1);
  if (head[0] != 0x02 || bytes < 16 || (bytes - 4) % 12 != 0 || end - at - 5 != bytes) {
    return Whole::kNo;
  }
  const uint64_t pieces = (bytes - 4) / 12;
  if (pieces > kMaxPieces) return Whole::kUnchecked;
  const uint64_t plc = at + 5;
  uint8_t cp[8];
  for (uint64_t i = 0; i < pieces; ++i) {
    uint8_t pcd[8];
    if (!table(plc + 4 * i, cp, 8) || !table(plc + 4 * (pieces + 1) + 8 * i, pcd, 8)) {
      return Whole::kNo;
    }
    const uint32_t first = LoadLe32(cp), next = LoadLe32(cp + 4);
    const uint32_t place = LoadLe32(pcd + 2);
    if ((i == 0 && first != 0) || next <= first || (place & 0x80000000u) != 0) return Whole::kNo;
    const bool compressed = (place & 0x40000000u) != 0;
    const uint64_t offset = compressed ? (place & 0x3FFFFFFFu) / 2 : place & 0x3FFFFFFFu;
    const uint64_t length = uint64_t{next - first} * (compressed ? 1 : 2);
    if (offset > word_size || length > word_size - offset) return Whole::kNo;
  }
  return LoadLe32(cp + 4) == LastCharacter(fib) ? Whole::kYes : Whole::kNo;
}

bool WordFibFits(const uint8_t* fib) {
  return LoadLe16(fib) == kWordMagic && LoadLe16(fib + 2) >= kFirstWord97Fib &&
         (LoadLe16(fib + 0x0A) & kEncryptedFlag) == 0 && LoadLe16(fib + 0x20) == 14 &&
         LoadLe16(fib + 0x3E) == 22 && LoadLe16(fib + 0x98) >= 0x5D;
}

bool FormattingPageFits(const uint8_t* page, uint64_t stream_size, uint8_t max_runs, size_t entry) {
  const uint8_t runs = page[kPage - 1];
  if (runs == 0 || runs > max_runs) return false;
  uint32_t previous = 0;
  for (size_t i = 0; i <= runs; ++i) {
    const uint32_t fc = LoadLe32(page + 4 * i);
    if (fc < previous || fc > stream_size) return false;
    previous = fc;
  }
  const size_t table_end = 4 * (runs + size_t{1}) + entry * runs;
  for (size_t i = 0; i < runs; ++i) {
    const size_t offset = size_t{page[4 * (runs + size_t{1}) + entry * i]} * 2;
    if (offset != 0 && (offset < table_end || offset >= kPage - 1)) return false;
  }
  return true;
}

Whole CheckWordStream(CompoundStream& word, CompoundStream* table0, CompoundStream* table1) {
  std::array<uint8_t, kWordFibBytes> fib{};
  if (!word.Read(0, fib.data(), 4) || LoadLe16(fib.data()) != kWordMagic) return Whole::kNo;
  if (LoadLe16(&fib[2]) < kFirstWord97Fib) return Whole::kUnchecked;  // Word 6/95
  if (!word.Read(0, fib.data(), fib.size())) return Whole::kNo;
  const uint16_t flags = LoadLe16(&fib[0x0A]);
  if ((flags & kEncryptedFlag) != 0) return Whole::kUnchecked;
  // The FIB's fixed counts of 16-bit, 32-bit and offset/length fields, and the bytes it says the
  // stream holds.
  if (!WordFibFits(fib.data()) || LoadLe32(&fib[0x40]) > word.size()) return Whole::kNo;
  CompoundStream* table = (flags & kTable1Flag) != 0 ? table1 : table0;
  if (table == nullptr) return Whole::kNo;
  const Whole pieces =
      PieceTableFits(fib.data(), word.size(), table->size(),
                     [&](uint64_t at, uint8_t* out, size_t n) { return table->Read(at, out, n); });
  if (pieces != Whole::kYes) return pieces;
  const bool pages_fit =
      BinTablePagesFit(word, *table, fib.data(), kBinTableChpx, kMaxChpxRuns, 1) &&
      BinTablePagesFit(word, *table, fib.data(), kBinTablePapx, kMaxPapxRuns, kPapxEntryBytes);
  return pages_fit ? Whole::kYes : Whole::kNo;
}

}  // namespace kestrel
