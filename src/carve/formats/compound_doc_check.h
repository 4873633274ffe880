#pragma once
// Whether a carved compound document (OLE2: DOC, XLS, PPT, MSG and the rest) is whole, told by
// its sector structure and then by the records of its main stream.
//
// The container: the header (signature, byte order, 512- or 4096-byte sectors, 64-byte mini
// sectors), the FAT sectors the header and the DIFAT chain name (inside the file), the directory
// chain, the MiniFAT chain and the mini stream's chain (the root entry's). The directory's entry
// tree holds only used entries, each reached once; every stream reached in it has a sector chain
// (the FAT's, or the MiniFAT's for streams below the cutoff) that stays inside the file (or the
// mini stream), has no loop and has exactly the sectors its size needs, ending there. No sector
// belongs to two chains (FAT and DIFAT sectors included). Bytes missing, foreign bytes over the
// FAT or the directory, or the head of one document with the tail of another break these.
//
// Foreign bytes inside a stream's data keep the chains whole, so the main stream is then
// followed record by record (compound_doc_streams.h): Workbook or Book (XLS), PowerPoint
// Document (PPT), WordDocument (DOC). A document whose main stream is none of these, or one the
// record check leaves unchecked (encrypted, Word 6/95), is unchecked once its container is whole.
//
// Caps: 4 Mi sectors (and mini sectors) per file, 100,000 directory entries; a larger document
// is unchecked. Memory is the FAT and MiniFAT of the file (4 bytes a sector) and a bit a sector.

#include <cstdint>
#include <string_view>

#include "carve/format.h"
#include "platform/byte_source.h"

namespace kestrel {

Whole CheckCompoundDoc(ByteSource& source, uint64_t start, uint64_t length);

// Whether the directory entry at `entry` (128 bytes) names the stream `name` (UTF-16LE, ASCII
// letters).
bool EntryNamed(const uint8_t* entry, std::string_view name);

}  // namespace kestrel
