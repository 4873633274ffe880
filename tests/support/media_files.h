#pragma once
// MPEG program streams, MPEG audio files and movies written by ffmpeg, for the carving, check and
// scan tests.
// Each list is made once per test program; it is empty when ffmpeg is missing or fails.

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel::testing {

struct MediaFile {
  std::string name;
  std::vector<uint8_t> bytes;
};

// MPEG-1 (-f mpeg), MPEG-2 (-f vob) and DVD (-target ntsc-dvd) program streams, each as ffmpeg
// writes it (no program end code) and with the end code 00 00 01 B9 after its last pack.
const std::vector<MediaFile>& FfmpegProgramStreams();

// MP3s (libmp3lame) with an ID3v2 tag only, an ID3v1 tag only, both, none, a VBR stream with a
// Xing frame, MPEG-2 and MPEG-2.5 sample rates, and an MPEG-1 layer II stream.
const std::vector<MediaFile>& FfmpegMp3s();

// Movies without sound whose samples are all shorter than 4 KiB: H.264 in MP4 (movie box last
// and first), H.265 in MOV (hvc1) and MP4 (hev1), MPEG-4 visual in MP4 and H.263 in 3GP.
const std::vector<MediaFile>& FfmpegVideoMovies();

// Movies with sound, or sound only: H.264 with PCM in MOV, MPEG-4 visual with AAC in MP4, Motion
// JPEG in MOV and AAC in M4A.
const std::vector<MediaFile>& FfmpegSoundMovies();

}  // namespace kestrel::testing
