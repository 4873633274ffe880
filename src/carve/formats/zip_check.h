#pragma once
// Whether a carved ZIP archive (or an Office Open XML document, which is one) is whole, told by
// its own structure: the end of central directory record ends the file (its comment reaching
// the last byte), the central directory (found through the ZIP64 records where the end record
// points to them) lies inside the file and ends where the end record or the ZIP64 end record
// starts, and every member it lists is found whole: its local header at the listed offset with
// the same name, method, sizes and CRC (or a data descriptor after the data that repeats the
// CRC), its data inside the file before the central directory, and its data unpacked (stored:
// as is; deflated: raw inflate) to exactly its size and CRC-32. Foreign bytes inside a member's
// data break its CRC or its deflate stream; bytes missing or put in move the local headers away
// from the offsets the central directory gives; the head of one archive with the tail of another
// names members that are not where the tail's directory says.
//
// Encrypted members and methods other than stored and deflate are checked only for lying inside
// the file; an archive with no member unpacked this way is unchecked. Spanned archives are
// unchecked. Work is capped per file: members past the 200,000th are not followed (the archive
// is then unchecked), and once 512 MiB have been unpacked the members that follow have only
// their local headers and places checked.

#include <cstdint>
#include <vector>

#include "carve/format.h"
#include "platform/byte_source.h"

namespace kestrel {

Whole CheckZip(ByteSource& source, uint64_t start, uint64_t length);

// A member as a header gives it.
struct ZipMember {
  uint16_t flags = 0, method = 0;
  uint32_t crc = 0;
  uint64_t size = 0, packed = 0, local = 0;
  std::vector<uint8_t> name;
};

// The member as the local header `h` (its fixed 30 bytes) at file offset `local` gives it; the
// name is left empty.
ZipMember ZipLocalHeaderFields(const uint8_t* h, uint64_t local);

// The members that the `entries` central directory entries in [at, at + size) of the file
// [start, start + length) list, in their order; false when an entry is broken.
bool ReadZipDirectory(ByteSource& source, uint64_t start, uint64_t length, uint64_t at,
                      uint64_t size, uint64_t entries, std::vector<ZipMember>* members);
// Whether `member` lies whole in the file: its local header at its offset agrees with it, and
// its data, before `limit`, unpacks to its size and CRC-32.
bool ZipMemberWhole(ByteSource& source, uint64_t start, uint64_t length, const ZipMember& member,
                    uint64_t limit);
// The file offset where the member's data ends as its local header places it (the header's
// offset when it cannot be read).
uint64_t ZipMemberDataEnd(ByteSource& file, const ZipMember& member);
// The file offset where the member's deflate data stops inflating (where it breaks, or where its
// data ends): where foreign bytes inside it start, about.
uint64_t ZipMemberInflatesTo(ByteSource& file, const ZipMember& member);
// As ZipMemberInflatesTo, for a member holding XML text (an Office part): also where its text
// stops reading as XML (a tag opened by no name, a '<' inside a tag, a control character).
// Foreign bytes inflate with the member's own Huffman codes to its own characters, but in no
// XML order, so this finds where they start sooner.
uint64_t ZipMemberXmlTo(ByteSource& file, const ZipMember& member);

}  // namespace kestrel
