#pragma once
// Whether a carved MPEG program stream (MPEG-1 or MPEG-2 system) is whole, told by its chain of
// units: from the first pack header on, pack headers (with their stuffing), system headers, PES
// packets (padding included) and end codes must each start with 00 00 01 exactly where the last
// one ended, up to the file's end; only a short run of zeros may come before a pack header or
// end the stream (a Video CD puts 20 after some packs). Along the chain:
// - every pack is of the first pack's system, states a mux rate within the system headers'
//   rate bound, and its clock reference never goes back (but for a wrap of the 33-bit clock);
// - the system headers have their marker bits and agree: one rate bound, and one buffer size
//   for each stream they list;
// - an audio or video packet belongs to a stream a system header lists (by its id or by the
//   all-audio and all-video entries);
// - a packet's header follows its system's syntax (MPEG-1 stuffing, buffer size and time stamps;
//   MPEG-2 flags, time stamps and header length) inside the packet.
// Foreign bytes in the middle break the chain at the next unit start (packs are at most a few
// KiB), and the tail of another stream breaks the clock, the system, the rate or the streams.
//
// Not seen: whole packs missing, or replaced by packs of a stream alike in system, streams and
// clock (DVD-style streams put every pack on a 2 KiB boundary, so a 4 KiB block holds whole
// packs). The packets' contents (video and audio) are not decoded. The program end code is not
// required: ffmpeg writes none.
//
// At most kMaxMpegCheckUnits units are followed; a longer chain is unchecked.

#include <cstdint>

#include "carve/format.h"
#include "platform/byte_source.h"

namespace kestrel {

inline constexpr uint32_t kMaxMpegCheckUnits = 8'000'000;

Whole CheckMpegProgramStream(ByteSource& source, uint64_t start, uint64_t length);

}  // namespace kestrel
