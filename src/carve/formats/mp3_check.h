#pragma once
// Whether a carved MP3 (any MPEG audio stream) is whole, told by its chain of frames: after an
// optional ID3v2 tag (and the zeros some taggers leave after it), every frame must start exactly
// where the last one ended, with a valid header that keeps the stream's version, layer, sample
// rate and channel family (mono or two channels), up to the end of the file's audio. Only an
// APE tag, a Lyrics3 tag and an ID3v1 tag may follow the frames, or a tail shorter than a frame
// that does not start one. Where the first frame carries a Xing, Info or VBRI header, its frame
// and byte counts must match the chain. A frame with such a header later in the chain is another
// stream's first frame: the file is two streams joined. A carve without a tag whose first frame
// borrows main data from before it (layer III's bit reservoir), or that the frames before it run
// into, began inside a stream: it is not whole.
//
// Foreign bytes in the middle break the chain within a frame (a header at the next frame's
// offset is a matter of chance), and a stream cut short falls short of its header's counts. The
// audio inside the frames is not decoded, and free-format streams (no bitrate in the header)
// are not followed: they are unchecked.
//
// At most kMaxMp3CheckFrames frames are followed; a longer chain is unchecked.

#include <cstdint>

#include "carve/format.h"
#include "carve/formats/mp3.h"
#include "carve/formats/source_window.h"
#include "platform/byte_source.h"

namespace kestrel {

inline constexpr uint32_t kMaxMp3CheckFrames = 5'000'000;

Whole CheckMp3(ByteSource& source, uint64_t start, uint64_t length);

// The fields every frame of one stream repeats: version, layer, sample rate, and whether it is
// mono (channel mode 3) or has two channels (stereo, joint or dual, which may alternate). `p`
// is the frame's header.
uint32_t Mp3StreamKey(const uint8_t* p, const Mp3Frame& frame);

// The frame and byte counts a Xing, Info or VBRI header gives (0: not given), read from the
// first `held` bytes of the frame at `p`.
struct Mp3StreamCounts {
  uint32_t frames = 0;
  uint32_t bytes = 0;
};
Mp3StreamCounts Mp3CountsAt(const uint8_t* p, size_t held);

// Whether frames of the stream of `key` run into `at`: two frames of it end there, one right
// after the other. A stream's first frame has none before it, so a frame they lead into lies
// inside a stream (a later piece of a file, or a file's middle), not at its start.
bool Mp3FramesLeadInto(ByteSource& source, uint64_t at, uint32_t key);

// Whether the frame at `at` (its header and side information at `head`, `frame` read from it)
// lies inside a stream: it borrows main data, or frames run into it.
bool Mp3InsideStream(ByteSource& source, uint64_t at, const uint8_t* head, const Mp3Frame& frame);

// Where the first frame of the file in `window` starts: after the ID3v2 tag and the zeros a
// tagger may leave after it. The file's length when the tag reaches past it.
uint64_t Mp3FirstFrame(SourceWindow& window);

}  // namespace kestrel
