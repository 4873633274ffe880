#pragma once
// Whether a carved WMV (any ASF file) is whole, told by its objects and data packets:
// - the header object's objects chain to its end, as many as it states, with a File Properties
//   object whose file size is the file's length and whose packets all have one size;
// - the Data object follows, stating the File Properties' packet count and the size they make
//   (or a size of 0);
// - every data packet, at its fixed-size place, parses: error correction data, the length type
//   and property flags, the send time (which never goes back), each payload's stream (one the
//   header declares), media object number, offset and replicated data, the payload lengths and
//   the padding, which together fill the packet exactly;
// - payloads keep each stream's media objects in sequence: a payload goes on with the object
//   where the last one left off, or a new object (numbered one on) starts at offset 0 after the
//   last one was complete;
// - the objects after the data (indexes) chain to the file's end, and a Simple Index points at
//   packets that exist.
// Foreign bytes in the middle break a packet's fields or the media objects' sequence, a missing
// block the file size, and the tail of another file the sequence and the send times.
//
// Broadcast files (their file size and packet count are not known), files of packets of varying
// size and packets larger than 64 KiB are unchecked; so are the contents of the media objects.
// At most kMaxAsfCheckPackets packets and kMaxAsfIndexEntries index entries are followed; past
// a cap, unchecked.

#include <cstdint>

#include "carve/format.h"
#include "platform/byte_source.h"

namespace kestrel {

inline constexpr uint32_t kMaxAsfCheckPackets = 4'000'000;
inline constexpr uint32_t kMaxAsfIndexEntries = 1'000'000;

Whole CheckAsf(ByteSource& source, uint64_t start, uint64_t length);

// The check's verdict, and how many data packets from the first on parse and keep each stream's
// media objects in sequence before one does not (where foreign bytes start, to a packet) or the
// file ends (a file cut short of its stated size is not whole, but its packets count).
struct AsfPackets {
  Whole whole = Whole::kUnchecked;
  uint64_t fit = 0;
};
AsfPackets CheckAsfPackets(ByteSource& source, uint64_t start, uint64_t length);

}  // namespace kestrel
