#pragma once
// Whether a carved QuickTime or ISO base media movie (MOV, MP4, 3GP, M4A) is whole, told by its
// sample tables.
//
// The movie box (moov) is read and, for every track, each chunk its tables place in the file
// (stco or co64, samples per chunk from stsc, sample sizes from stsz or stz2) must lie inside one
// media data box (mdat) of the carved file. A file with bytes missing or the tail of another
// movie has chunks past its media data or its end. The samples of video tracks are looked into,
// every one of them (a few bytes each): H.264 and H.265 samples must be chains of length-prefixed
// NAL units (length size from avcC or hvcC) that end exactly at the sample's size, each with a
// valid NAL header; MPEG-4 visual, H.263 and Motion JPEG samples must start with their start
// code; AAC frames must start with a channel, data stream or fill element (their first byte).
// Foreign bytes over a sample's start or a NAL unit's length break the chain. Other audio and
// other tracks are checked by their chunk ranges only. The top-level boxes must tile the file,
// and a file with neither a movie box nor a meta box has nothing that describes its data.
//
// Unchecked: no movie box but a meta box (HEIF images), a compressed movie box, fragmented movies
// (moof), tracks whose data lies in another file, tables that disagree on the number of samples,
// and a movie box over 64 MiB. A track whose first sample is not a NAL unit chain but starts with a
// start code (Annex B written into the file) keeps its chunk checks only.
//
// Work is bounded: 100,000 top-level boxes, 2,000,000 samples looked into, 16,000,000 NAL units.

#include <cstdint>

#include "carve/format.h"
#include "platform/byte_source.h"

namespace kestrel {

Whole CheckMov(ByteSource& source, uint64_t start, uint64_t length);

}  // namespace kestrel
