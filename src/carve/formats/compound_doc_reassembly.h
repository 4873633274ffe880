#pragma once
// A compound document (DOC, XLS, PPT) found in fragments in order, with foreign allocation units
// between them. Its FAT sectors and directory sectors tell themselves apart from other data: a
// FAT sector's entries are chain links inside the document or end marks, mostly each to the
// next sector, and it marks the FAT's own sectors as such; a directory sector holds entries of
// known types with UTF-16 names, the first one the root. Each is looked for at its place and then
// whole units further on, in the order of their sector numbers, so that what was put in before
// each (a non-decreasing shift) is known at every one of them. Between two of these anchors the
// gaps that make up the difference in shift (one or two) are placed at unit boundaries, and the
// document is put together only when exactly one placement makes it whole by its check
// (compound_doc_check.h): the main streams' records tell where a gap lies inside them; a gap
// inside data no check reads leaves its place unknown, and then nothing is put together.
//
// Documents whose FAT needs DIFAT sectors (more than 109 FAT sectors) are not put together. Work
// is bounded: 64 MiB of gaps, 4096 whole checks of at most 64 times the document's length in
// all. Where this finds no placement (an anchor is not found further on) or two, the fragments
// are looked for either way of the header (compound_doc_fragment_walk.h), whose judgement of the
// units' contents (records, text) may leave exactly one; one placement found before the work ran
// out stands only when that search finds it too, and alone.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "carve/format.h"
#include "carve/piece_source.h"
#include "platform/byte_source.h"

namespace kestrel {

bool ReassembleCompoundDoc(ByteSource& source, uint64_t start, uint64_t length,
                           const ByteUnits& units, std::vector<FilePiece>* pieces);

// Entries that link a sector to the next one or mark a FAT sector: fewer, and a block found by
// searching is not taken for a FAT sector.
inline constexpr uint32_t kMinFatLinks = 4;

// Whether the `bytes` bytes at `block` can be the `index`-th FAT sector of a document of at most
// `bound` sectors whose FAT sectors are `fat_sectors`, with at least `min_links` links.
bool LooksLikeFat(const uint8_t* block, size_t bytes, uint32_t index,
                  const std::vector<uint32_t>& fat_sectors, uint64_t bound,
                  uint32_t min_links = kMinFatLinks);

// Whether the `bytes` bytes at `block` can be a directory sector (the directory's first when
// `first`).
bool LooksLikeDirectory(const uint8_t* block, size_t bytes, bool first);

// How far past its place the FAT sector `sector` (the `index`-th of the FAT, whose sectors are
// `fat_sectors`) of the document whose header is at `start` lies: the first shift from `from`
// on, in steps of `step` bytes, where a sector that looks like it stands. Empty when none within
// 64 MiB.
std::optional<uint64_t> FatSectorShift(ByteSource& source, uint64_t start, uint32_t sector_bytes,
                                       uint32_t sector, uint32_t index,
                                       const std::vector<uint32_t>& fat_sectors, uint64_t from,
                                       uint64_t step);

}  // namespace kestrel
