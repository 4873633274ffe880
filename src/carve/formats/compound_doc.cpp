#include "carve/formats/compound_doc.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "carve/formats/compound_doc_check.h"
#include "carve/formats/compound_doc_fragment_walk.h"
#include "carve/formats/compound_doc_layout.h"
#include "carve/formats/compound_doc_reassembly.h"
#include "platform/byte_order.h"

namespace kestrel {
namespace {

using namespace cfb;

// Foreign units are looked for in steps of 4 KiB, the usual cluster.
constexpr uint64_t kShiftStep = 4096;

// Where the document's sectors lie: file sector k follows the header at
// file_start + sector_bytes * (k + 1).
struct Geometry {
  uint64_t file_start = 0;
  uint32_t sector_bytes = 512;
  uint32_t entries_per_sector = 128;
  uint64_t sectors_on_source = 0;  // file sectors that lie wholly on the source
};

// Reads file sector `k` into `block`. False when it lies beyond the source; a failed read leaves
// the block zero-filled, and the length is measured from that.
bool ReadFileSector(ByteSource& source, const Geometry& g, uint64_t k,
                    std::vector<uint8_t>& block) {
  if (k >= g.sectors_on_source) return false;
  block.assign(g.sector_bytes, 0);
  const uint64_t offset = g.file_start + uint64_t{g.sector_bytes} * (k + 1);
  if (!source.ReadExact(offset, block.data(), block.size())) {
    std::fill(block.begin(), block.end(), uint8_t{0});
  }
  return true;
}

// The number of the last FAT sector: the last entry of the header's DIFAT, or of the DIFAT
// sector chain when there is one. Empty when there is none or a DIFAT sector is off the source.
std::optional<uint64_t> LastFatSector(ByteSource& source, const uint8_t* header, const Geometry& g,
                                      uint32_t fat_count) {
  std::optional<uint64_t> last;
  for (size_t i = 0; i < kHeaderFatEntries; ++i) {
    const uint32_t v = LoadLe32(header + kHeaderFatOffset + 4 * i);
    if (v == kFreeSect) break;
    if (v != kEndOfChain) last = v;
  }
  uint32_t current = LoadLe32(header + kDifatStartOffset);
  // Each DIFAT sector lists entries_per_sector - 1 FAT sectors and then the next DIFAT sector;
  // the walk never takes more sectors than the FAT count needs (a looping chain ends).
  const uint64_t needed = fat_count / (g.entries_per_sector - 1) + 1;
  const uint64_t limit = std::min<uint64_t>(std::max<uint32_t>(LoadLe32(header + 0x48), 1), needed);
  std::vector<uint8_t> block;
  for (uint64_t step = 0; step < limit && current != kEndOfChain && current != kFreeSect; ++step) {
    if (!ReadFileSector(source, g, current, block)) return std::nullopt;
    for (uint32_t j = 0; j + 1 < g.entries_per_sector; ++j) {
      const uint32_t v = LoadLe32(block.data() + 4 * j);
      if (v != kFreeSect && v != kEndOfChain) last = v;
    }
    current = LoadLe32(block.data() + 4 * (g.entries_per_sector - 1));
  }
  return last;
}

// How far past its place the last FAT sector `last` (read at its place into `fat`) lies, with
// its sector read into `fat`: 0 when in place, or when the header names it through DIFAT sectors
// (not looked for); empty when it is neither at its place nor further on.
std::optional<uint64_t> ShiftOfLastFat(ByteSource& source, const uint8_t* header, const Geometry& g,
                                       uint32_t fat_count, uint64_t last,
                                       std::vector<uint8_t>& fat) {
  if (fat_count > kHeaderFatEntries || last > UINT32_MAX) return 0;
  std::vector<uint32_t> fat_sectors;
  for (uint32_t j = 0; j < fat_count; ++j) {
    fat_sectors.push_back(LoadLe32(header + kHeaderFatOffset + 4 * j));
  }
  const uint32_t index = fat_count - 1;
  if (fat_sectors[index] != last) return 0;
  const std::optional<uint64_t> shift =
      FatSectorShift(source, g.file_start, g.sector_bytes, static_cast<uint32_t>(last), index,
                     fat_sectors, 0, kShiftStep);
  if (!shift) {
    // A FAT sector with few links is not found by searching, but may stand at its place.
    if (LooksLikeFat(fat.data(), fat.size(), index, fat_sectors, g.sectors_on_source + 1, 0)) {
      return 0;
    }
    return std::nullopt;
  }
  if (*shift == 0) return 0;
  const uint64_t offset = g.file_start + uint64_t{g.sector_bytes} * (last + 1) + *shift;
  if (!source.ReadExact(offset, fat.data(), fat.size())) return 0;
  return *shift;
}

// The program whose main stream the directory sector `directory` lists.
DocProgram MainStreamIn(const std::vector<uint8_t>& directory) {
  for (size_t at = 0; at + kEntryBytes <= directory.size(); at += kEntryBytes) {
    const uint8_t* entry = directory.data() + at;
    if (entry[66] != kStream) continue;
    if (EntryNamed(entry, "WordDocument")) return DocProgram::kWord;
    if (EntryNamed(entry, "Workbook") || EntryNamed(entry, "Book")) return DocProgram::kExcel;
    if (EntryNamed(entry, "PowerPoint Document")) return DocProgram::kPowerPoint;
  }
  return DocProgram::kUnknown;
}

// The program whose main stream the directory's first sector lists.
DocProgram MainStreamOf(ByteSource& source, const uint8_t* header, const Geometry& g) {
  std::vector<uint8_t> directory;
  if (!ReadFileSector(source, g, LoadLe32(header + kDirectoryOffset), directory))
    return DocProgram::kUnknown;
  return MainStreamIn(directory);
}

CompoundState Unmeasurable() {
  CompoundState state;
  state.unmeasurable = true;
  return state;
}

// A document whose FAT is not where the header puts it, nor further on: when its FAT and directory
// lie in units around the header, only the header is taken and the rest is put together from
// there when the document is finished.
CompoundState FoundElsewhere(ByteSource& source, const Geometry& g) {
  const std::optional<std::vector<uint8_t>> directory =
      FindCompoundDirectory(source, g.file_start, ByteUnits{g.file_start, kShiftStep});
  if (!directory) return Unmeasurable();
  CompoundState state;
  state.left = kHeaderBytes;
  state.in_pieces = true;
  state.header_only = true;
  state.main_stream = MainStreamIn(*directory);
  return state;
}

// The program whose main stream the directory lists, found in units around the header.
DocProgram MainStreamAround(ByteSource& source, const Geometry& g) {
  const std::optional<std::vector<uint8_t>> directory =
      FindCompoundDirectory(source, g.file_start, ByteUnits{g.file_start, kShiftStep});
  return directory ? MainStreamIn(*directory) : DocProgram::kUnknown;
}

bool RunContains(std::string_view run, std::string_view text) {
  return run.find(text) != std::string_view::npos;
}

// The program named in the `n` bytes about to be written: the first NUL-terminated text run
// naming Excel or Word, or the first Word mark F4 39 B2 71. Runs may continue into the
// following `tail` bytes of the same document.
DocProgram SniffProgram(const uint8_t* data, size_t n, size_t tail) {
  static constexpr uint8_t kWordMark[4] = {0xF4, 0x39, 0xB2, 0x71};
  const size_t limit = n + tail;
  size_t p = 0;
  while (p < n) {
    size_t e = p;
    while (e < limit && data[e] != 0) ++e;
    const std::string_view run(reinterpret_cast<const char*>(data + p), e - p);
    if (RunContains(run, "Microsoft Excel") || RunContains(run, "Microsoft Office Excel")) {
      return DocProgram::kExcel;
    }
    if (RunContains(run, "Microsoft Word")) return DocProgram::kWord;
    for (size_t q = p; q < std::min(e, n); ++q) {
      if (q + 4 <= limit && std::memcmp(data + q, kWordMark, 4) == 0) return DocProgram::kWord;
    }
    p = e + 1;
  }
  return DocProgram::kUnknown;
}

}  // namespace

CompoundState StartCompound(const CarveView& view) {
  const SectorInput& in = view.in;
  const uint8_t* header = in.data;
  const uint16_t shift = LoadLe16(header + 0x1E);
  if (shift != 9 && shift != 12) return Unmeasurable();
  Geometry g;
  g.sector_bytes = uint32_t{1} << shift;
  g.entries_per_sector = g.sector_bytes / 4;
  g.file_start = in.sector * kSectorBytes;
  const uint64_t room = view.SourceRoom();
  g.sectors_on_source = room / g.sector_bytes > 0 ? room / g.sector_bytes - 1 : 0;

  const uint32_t fat_count = LoadLe32(header + kFatCountOffset);
  // Every FAT sector but the last addresses a full sector of entries, all inside the document:
  // one longer than the source after its header may lie partly before it.
  if (fat_count == 0) return Unmeasurable();
  if (uint64_t{fat_count - 1} * g.entries_per_sector >= g.sectors_on_source) {
    return FoundElsewhere(view.source, g);
  }
  const std::optional<uint64_t> last = LastFatSector(view.source, header, g, fat_count);
  std::vector<uint8_t> fat;
  if (!last) return Unmeasurable();
  if (!ReadFileSector(view.source, g, *last, fat)) return FoundElsewhere(view.source, g);
  // A FAT sector further on than its place: foreign units lie in the document before it, and
  // the document is taken to that FAT sector's end at least (it is put together when done).
  const std::optional<uint64_t> shift_found =
      ShiftOfLastFat(view.source, header, g, fat_count, *last, fat);
  if (!shift_found) return FoundElsewhere(view.source, g);
  const uint64_t fat_shift = *shift_found;
  uint64_t used = 0;
  for (uint32_t j = 0; j < g.entries_per_sector; ++j) {
    if (LoadLe32(fat.data() + 4 * j) != kFreeSect) used = j + 1;
  }
  const uint64_t length =
      uint64_t{g.sector_bytes} * (uint64_t{g.entries_per_sector} * (fat_count - 1) + used + 1) +
      fat_shift;
  if (length > room) return Unmeasurable();
  CompoundState state;
  state.left = length;
  state.in_pieces = fat_shift != 0;
  state.main_stream = MainStreamOf(view.source, header, g);
  if (state.in_pieces && state.main_stream == DocProgram::kUnknown) {
    // The directory may lie past its place too.
    state.main_stream = MainStreamAround(view.source, g);
  }
  return state;
}

Fed FeedCompound(CompoundState& state, const CarveView& view) {
  if (state.unmeasurable) return Refuse();
  const SectorInput& in = view.in;
  const size_t n = static_cast<size_t>(std::min<uint64_t>(in.count, state.left));
  // Text that crosses into the next sector of the same document is still found here.
  const uint64_t more_of_file = state.left - n;
  const uint64_t readable = in.count + in.valid_after - n;
  const size_t tail = static_cast<size_t>(std::min<uint64_t>({21, more_of_file, readable}));
  const DocProgram program = SniffProgram(in.data, n, tail);
  if (program != DocProgram::kUnknown) state.program = program;
  state.left -= n;
  if (state.left != 0) return More(n);
  state.complete = true;
  return Complete(n);
}

Kept FinishCompound(const CompoundState& state, const TypeSet& selected) {
  // A document in pieces is put together from its header on, whether or not its carve came to
  // the measured end.
  if (!state.complete && !state.in_pieces) return Drop();
  Kept kept = KeepChecked(CheckCompoundDoc);
  kept.reassemble = ReassembleCompoundDoc;
  uint8_t code = kPpt;
  const DocProgram program =
      state.main_stream != DocProgram::kUnknown ? state.main_stream : state.program;
  if (program == DocProgram::kExcel) {
    code = kXls;
    kept.extension = "XLS";
  } else if (program == DocProgram::kWord) {
    code = kDoc;
    kept.extension = "DOC";
  }
  kept.keep = IsSelected(selected, code);
  if (state.in_pieces) {
    kept.pieces_elsewhere = kept.keep;
    // A carve that holds foreign units is a partial file when no pieces are found.
    kept.not_whole = !state.header_only;
    kept.keep = false;
  }
  return kept;
}

Match MatchCompound(const RowInput& r, Start* s) {
  if (!r.h.StartsWith(0, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1")) return Match::kNo;
  return Opens(s, StartCompound(r.view));
}

}  // namespace kestrel
