#include "carve/formats/mp3_check.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "carve/formats/mp3.h"
#include "carve/formats/source_window.h"
#include "platform/byte_order.h"

namespace kestrel {
namespace {

constexpr size_t kWindowBytes = 64 * 1024;
constexpr size_t kId3v2HeaderBytes = 10;
// The bytes of a frame that may hold its Xing, Info or VBRI header and their counts.
constexpr size_t kInfoBytes = 64;
// A Lyrics3 v2 tag ends with its six-digit size and "LYRICS200"; a v1 tag ends with
// "LYRICSEND" and holds at most 5100 bytes of lyrics after "LYRICSBEGIN".
constexpr size_t kLyrics2TailBytes = 15;
constexpr size_t kMaxLyrics1Bytes = 11 + 5100 + 9;
constexpr std::string_view kLyricsBegin = "LYRICSBEGIN";

bool HasText(const uint8_t* p, std::string_view text) {
  return std::memcmp(p, text.data(), text.size()) == 0;
}

// A header of a free-format stream: valid but for its bitrate index 0.
bool FreeFormatAt(const uint8_t* p) {
  uint8_t header[4] = {p[0], p[1], static_cast<uint8_t>(p[2] | 0x10), p[3]};
  return (p[2] >> 4) == 0 && Mp3FrameAt(header).length != 0;
}

}  // namespace

Mp3StreamCounts Mp3CountsAt(const uint8_t* p, size_t held) {
  Mp3StreamCounts counts;
  for (const size_t at : {13u, 21u, 36u}) {
    if (at + 16 > held || !(HasText(p + at, "Xing") || HasText(p + at, "Info"))) continue;
    const uint32_t flags = LoadBe32(p + at + 4);
    size_t field = at + 8;
    if ((flags & 1) != 0) {
      counts.frames = LoadBe32(p + field);
      field += 4;
    }
    if ((flags & 2) != 0 && field + 4 <= held) counts.bytes = LoadBe32(p + field);
    return counts;
  }
  if (36 + 18 <= held && HasText(p + 36, "VBRI")) {
    counts.bytes = LoadBe32(p + 36 + 10);
    counts.frames = LoadBe32(p + 36 + 14);
  }
  return counts;
}

namespace {

// The length of the APE tag (footer, items and header when it has one) that ends at `end`, 0
// when none does or it would reach before `begin`.
uint64_t ApeTagBefore(SourceWindow& window, uint64_t begin, uint64_t end) {
  if (end - begin < kApeFrameBytes) return 0;
  const uint8_t* p = window.At(end - kApeFrameBytes, kApeFrameBytes);
  if (p == nullptr || !HasText(p, "APETAGEX")) return 0;
  const uint32_t version = LoadLe32(p + 8), size = LoadLe32(p + 12), flags = LoadLe32(p + 20);
  const bool footer = (flags & (1u << 29)) == 0;
  if ((version != 1000 && version != 2000) || !footer) return 0;
  if (size < kApeFrameBytes || size > kMaxApeTagBytes) return 0;
  const uint64_t length = uint64_t{size} + ((flags & (1u << 31)) != 0 ? kApeFrameBytes : 0);
  return length <= end - begin ? length : 0;
}

// The length of the Lyrics3 tag (v2 or v1) that ends at `end`, 0 when none does.
uint64_t LyricsTagBefore(SourceWindow& window, uint64_t begin, uint64_t end) {
  if (end - begin < kLyrics2TailBytes + kLyricsBegin.size()) return 0;
  const uint8_t* tail = window.At(end - kLyrics2TailBytes, kLyrics2TailBytes);
  if (tail == nullptr) return 0;
  if (HasText(tail + 6, "LYRICS200")) {
    uint64_t size = 0;
    for (int k = 0; k < 6; ++k) {
      if (tail[k] < '0' || tail[k] > '9') return 0;
      size = size * 10 + (tail[k] - '0');
    }
    const uint64_t length = size + kLyrics2TailBytes;
    if (length > end - begin) return 0;
    const uint8_t* head = window.At(end - length, kLyricsBegin.size());
    return head != nullptr && HasText(head, kLyricsBegin) ? length : 0;
  }
  if (!HasText(tail + 6, "LYRICSEND")) return 0;
  const size_t span = static_cast<size_t>(std::min<uint64_t>(end - begin, kMaxLyrics1Bytes));
  const uint8_t* p = window.At(end - span, span);
  if (p == nullptr) return 0;
  const std::string_view text(reinterpret_cast<const char*>(p), span);
  const size_t found = text.rfind(kLyricsBegin);
  return found == std::string_view::npos ? 0 : span - found;
}

// Where the audio ends: before the tags that end the file (an ID3v1 tag last, an APE tag and a
// Lyrics3 tag before it in either order).
uint64_t AudioEnd(SourceWindow& window, uint64_t begin, uint64_t end) {
  if (end - begin >= kMp3Id3v1Bytes) {
    const uint8_t* p = window.At(end - kMp3Id3v1Bytes, 3);
    if (p != nullptr && HasText(p, "TAG")) end -= kMp3Id3v1Bytes;
  }
  for (int tags = 0; tags < 2; ++tags) {
    const uint64_t tag =
        std::max(ApeTagBefore(window, begin, end), LyricsTagBefore(window, begin, end));
    if (tag == 0) break;
    end -= tag;
  }
  return end;
}

}  // namespace

uint32_t Mp3StreamKey(const uint8_t* p, const Mp3Frame& frame) {
  return uint32_t{frame.stream} << 1 | ((p[3] >> 6) == 3 ? 1u : 0u);
}

namespace {

// The longest frame: MPEG-1 layer II at 384 kbit/s and 32 kHz, padded.
constexpr uint64_t kMaxFrameBytes = 1729;

// Where the frame of `key` that ends at `end` starts, within `bytes` (which hold the source's
// bytes from `base`); `end` when no frame ends there.
uint64_t FrameEndingAt(const std::vector<uint8_t>& bytes, uint64_t base, uint64_t end,
                       uint32_t key) {
  const uint64_t lowest = std::max(base, end > kMaxFrameBytes ? end - kMaxFrameBytes : 0);
  for (uint64_t at = lowest; at + 4 <= end; ++at) {
    const uint8_t* p = bytes.data() + (at - base);
    const Mp3Frame frame = Mp3FrameAt(p);
    if (frame.length != 0 && at + frame.length == end && Mp3StreamKey(p, frame) == key) return at;
  }
  return end;
}

}  // namespace

bool Mp3FramesLeadInto(ByteSource& source, uint64_t at, uint32_t key) {
  const uint64_t base = at > 2 * kMaxFrameBytes ? at - 2 * kMaxFrameBytes : 0;
  std::vector<uint8_t> bytes(static_cast<size_t>(at - base));
  if (bytes.size() < 8 || !source.ReadExact(base, bytes.data(), bytes.size())) return false;
  const uint64_t last = FrameEndingAt(bytes, base, at, key);
  return last != at && FrameEndingAt(bytes, base, last, key) != last;
}

bool Mp3InsideStream(ByteSource& source, uint64_t at, const uint8_t* head, const Mp3Frame& frame) {
  return Mp3BorrowsMainData(head, frame.length) ||
         Mp3FramesLeadInto(source, at, Mp3StreamKey(head, frame));
}

uint64_t Mp3FirstFrame(SourceWindow& window) {
  const uint64_t length = window.length();
  uint8_t head[kId3v2HeaderBytes];
  if (!window.Padded(0, head, sizeof head)) return length;
  const uint64_t tag = Id3v2LengthAt(head);
  if (tag == 0 || tag >= length) return tag == 0 ? 0 : length;
  const size_t span = static_cast<size_t>(std::min<uint64_t>(kMaxMp3LeadZeros, length - tag));
  const uint8_t* p = window.At(tag, span);
  if (p == nullptr) return length;
  return tag +
         static_cast<uint64_t>(std::find_if(p, p + span, [](uint8_t b) { return b != 0; }) - p);
}

namespace {

struct Chain {
  uint64_t end = 0;         // where the last whole frame ends
  uint32_t frames = 0;      // whole frames
  uint32_t last_frame = 0;  // the last frame's length
  bool cut = false;         // a frame of the stream starts at `end` but the file ends inside it
  bool capped = false;      // more than kMaxMp3CheckFrames frames: not followed to the end
};

// Follows the frames of the stream whose first frame is at `at`, of `key`, to the first offset
// that holds no frame of it (or a frame the file cuts), within the file. False when the source
// cannot be read.
bool FollowFrames(SourceWindow& window, uint64_t at, uint32_t key, Chain& chain) {
  const uint64_t length = window.length();
  chain.end = at;
  while (length - at >= 4) {
    const uint8_t* p = window.At(at, 4);
    if (p == nullptr) return false;
    const Mp3Frame frame = Mp3FrameAt(p);
    if (frame.length == 0 || Mp3StreamKey(p, frame) != key) break;
    if (frame.length > length - at) {
      chain.cut = true;
      break;
    }
    if (chain.frames > 0 && frame.length >= kInfoBytes) {
      const uint8_t* info = window.At(at, kInfoBytes);
      if (info == nullptr) return false;
      if (Mp3InfoFrameAt(info)) break;  // another stream's first frame
    }
    if (++chain.frames > kMaxMp3CheckFrames) {
      chain.capped = true;
      break;
    }
    chain.last_frame = frame.length;
    at += frame.length;
    chain.end = at;
  }
  return true;
}

// Whether the counts of the first frame's Xing, Info or VBRI header fit the chain: encoders
// count the frames with or without the header's own frame, and the bytes from the first frame
// (with or without it) or from the file's start.
bool CountsFit(const Mp3StreamCounts& counts, const Chain& chain, uint64_t first,
               uint32_t first_len, uint64_t length) {
  if (counts.frames != 0 && counts.frames != chain.frames && counts.frames + 1 != chain.frames) {
    return false;
  }
  if (counts.bytes == 0) return true;
  const uint64_t stream = chain.end - first;
  for (const uint64_t bytes : {stream, stream - first_len, chain.end, length}) {
    if (counts.bytes == bytes) return true;
  }
  return false;
}

}  // namespace

Whole CheckMp3(ByteSource& source, uint64_t start, uint64_t length) {
  SourceWindow window(source, start, length, kWindowBytes);
  const uint64_t first = Mp3FirstFrame(window);
  if (window.failed()) return Whole::kUnchecked;
  if (length - first < 4) return Whole::kNo;
  uint8_t head[kInfoBytes];
  if (!window.Padded(first, head, sizeof head)) return Whole::kUnchecked;
  const Mp3Frame frame = Mp3FrameAt(head);
  if (frame.length == 0) return FreeFormatAt(head) ? Whole::kUnchecked : Whole::kNo;
  const size_t held =
      static_cast<size_t>(std::min<uint64_t>({kInfoBytes, uint64_t{frame.length}, length - first}));
  const Mp3StreamCounts counts = Mp3CountsAt(head, held);
  // Without a tag before it, a frame that borrows main data or that frames run into lies inside
  // a stream: the carve did not begin at the stream's start.
  if (first == 0 && Mp3InsideStream(source, start, head, frame)) return Whole::kNo;

  Chain chain;
  if (!FollowFrames(window, first, Mp3StreamKey(head, frame), chain)) return Whole::kUnchecked;
  if (chain.capped) return Whole::kUnchecked;
  const uint64_t audio_end = AudioEnd(window, first, length);
  if (window.failed()) return Whole::kUnchecked;
  if (chain.frames == 0 || (chain.end > audio_end && chain.end != length)) return Whole::kNo;
  if (chain.end < audio_end) {
    // Only a tail shorter than a frame, that starts no frame of the stream, may follow.
    if (chain.cut || audio_end - chain.end >= chain.last_frame) return Whole::kNo;
  }
  return CountsFit(counts, chain, first, frame.length, length) ? Whole::kYes : Whole::kNo;
}

}  // namespace kestrel
