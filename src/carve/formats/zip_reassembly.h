#pragma once
// A ZIP archive (or Office Open XML document) found in fragments in order, with foreign units
// between them (offset_reassembly.h): its central directory, at the end, gives where every
// member's local header lies in the archive, and the directory's own place how many bytes were
// put in. A gap's start is where cutting it leaves the member before it unpacking to its CRC-32.
// A deflated member whose data two gaps cut is put together where its data stops inflating (foreign
// bytes often inflate on to its end without a fault: then every first cut that goes on as far is
// tried).
// A stored member that is itself an archive (a ZIP kept in a ZIP) with the gaps left inside it is
// put together by its own central directory the same way, and then checked by its CRC-32.
// At most eight times the file's length (256 MiB at least) of member data is unpacked for the
// search. Where the directory cannot lead it (fragments out of order), the archive's records are
// followed from its start across its cuts instead (zip_fragment_walk.h).

#include <cstdint>
#include <vector>

#include "carve/format.h"
#include "carve/piece_source.h"
#include "platform/byte_source.h"

namespace kestrel {

bool ReassembleZip(ByteSource& source, uint64_t start, uint64_t length, const ByteUnits& units,
                   std::vector<FilePiece>* pieces);

}  // namespace kestrel
