#include "support/media_files.h"

#include <cstddef>

#include "support/temp_dir.h"

namespace kestrel::testing {
namespace {

const char* const kVideo = "ffmpeg -v error -f lavfi -i testsrc=duration=1:size=64x48:rate=25 ";
const char* const kTone = "ffmpeg -v error -f lavfi -i sine=frequency=440:duration=1";

void AddMade(std::vector<MediaFile>& files, const std::string& name, const std::string& command) {
  auto bytes = MakeWithTool(command);
  if (!bytes.empty()) files.push_back({name, std::move(bytes)});
}

// `tagged` without its leading ID3v2 tag (header and syncsafe size).
std::vector<uint8_t> WithoutId3v2(const std::vector<uint8_t>& tagged) {
  if (tagged.size() < 10 || tagged[0] != 'I' || tagged[1] != 'D' || tagged[2] != '3') return {};
  const size_t size =
      size_t{tagged[6]} << 21 | size_t{tagged[7]} << 14 | size_t{tagged[8]} << 7 | tagged[9];
  if (10 + size > tagged.size()) return {};
  return {tagged.begin() + static_cast<std::ptrdiff_t>(10 + size), tagged.end()};
}

std::vector<MediaFile> MakeProgramStreams() {
  std::vector<MediaFile> files;
  const std::string audio = "-f lavfi -i sine=duration=1 ";
  AddMade(files, "mpeg1.mpg", kVideo + audio + "-f mpeg out");
  AddMade(files, "mpeg2.vob", kVideo + audio + "-f vob out");
  AddMade(files, "dvd.mpg", kVideo + audio + "-target ntsc-dvd -f dvd out");
  for (size_t k = 0, n = files.size(); k < n; ++k) {
    MediaFile ended = files[k];
    ended.name = "ended-" + ended.name;
    ended.bytes.insert(ended.bytes.end(), {0x00, 0x00, 0x01, 0xB9});
    files.push_back(std::move(ended));
  }
  return files;
}

std::vector<MediaFile> MakeMp3s() {
  std::vector<MediaFile> files;
  const std::string lame = std::string(kTone) + " -c:a libmp3lame ";
  const std::string title = "-metadata title=Kestrel -metadata artist=Kestrel ";
  AddMade(files, "id3v2.mp3", lame + "-b:a 128k " + title + "-f mp3 out");
  AddMade(files, "both-tags.mp3", lame + "-b:a 64k " + title + "-write_id3v1 1 -f mp3 out");
  if (!files.empty()) {
    // ffmpeg writes an ID3v1 tag only beside an ID3v2 tag: the ID3v2 tag is taken away.
    files.push_back({"id3v1.mp3", WithoutId3v2(files.back().bytes)});
  }
  AddMade(files, "untagged.mp3", lame + "-b:a 96k -id3v2_version 0 -write_xing 0 -f mp3 out");
  AddMade(files, "vbr-xing.mp3", lame + "-q:a 2 " + title + "-f mp3 out");
  AddMade(files, "mpeg2.mp3", lame + "-ar 22050 -b:a 32k -id3v2_version 0 -f mp3 out");
  AddMade(files, "mpeg25.mp3", lame + "-ar 8000 -b:a 16k -id3v2_version 0 -f mp3 out");
  AddMade(files, "layer2.mp3", std::string(kTone) + " -c:a mp2 -b:a 192k -f mp2 out");
  return files;
}

// Small pictures keep every video sample shorter than a 4 KiB block.
std::vector<MediaFile> MakeVideoMovies() {
  const std::string video = "ffmpeg -v error -f lavfi -i testsrc=duration=12:size=96x72:rate=25 ";
  const std::string x265 = "-c:v libx265 -x265-params log-level=none ";
  std::vector<MediaFile> files;
  AddMade(files, "h264.mp4", video + "-c:v libx264 -f mp4 out");
  AddMade(files, "h264-moov-first.mp4", video + "-c:v libx264 -movflags +faststart -f mp4 out");
  AddMade(files, "h265.mov", video + x265 + "-tag:v hvc1 -f mov out");
  AddMade(files, "h265.mp4", video + x265 + "-f mp4 out");
  AddMade(files, "mpeg4.mp4", video + "-c:v mpeg4 -f mp4 out");
  AddMade(
      files, "h263.3gp",
      "ffmpeg -v error -f lavfi -i testsrc=duration=8:size=128x96:rate=15 -c:v h263 -f 3gp out");
  return files;
}

std::vector<MediaFile> MakeSoundMovies() {
  const std::string video = "ffmpeg -v error -f lavfi -i testsrc=duration=3:size=160x120:rate=25 ";
  const std::string sound = "-f lavfi -i sine=frequency=440:duration=3:sample_rate=22050 ";
  std::vector<MediaFile> files;
  AddMade(files, "h264-pcm.mov", video + sound + "-c:v libx264 -c:a pcm_s16le -f mov out");
  AddMade(files, "mpeg4-aac.mp4", video + sound + "-c:v mpeg4 -c:a aac -f mp4 out");
  AddMade(files, "mjpeg.mov", video + "-c:v mjpeg -f mov out");
  AddMade(files, "aac.m4a", std::string(kTone) + " -c:a aac -f ipod out");
  return files;
}

// The files `make` writes when ffmpeg is installed.
std::vector<MediaFile> MadeByFfmpeg(std::vector<MediaFile> (*make)()) {
  return HaveTool("ffmpeg") ? make() : std::vector<MediaFile>{};
}

}  // namespace

const std::vector<MediaFile>& FfmpegVideoMovies() {
  static const std::vector<MediaFile> files = MadeByFfmpeg(MakeVideoMovies);
  return files;
}

const std::vector<MediaFile>& FfmpegSoundMovies() {
  static const std::vector<MediaFile> files = MadeByFfmpeg(MakeSoundMovies);
  return files;
}

const std::vector<MediaFile>& FfmpegProgramStreams() {
  static const std::vector<MediaFile> files = MadeByFfmpeg(MakeProgramStreams);
  return files;
}

const std::vector<MediaFile>& FfmpegMp3s() {
  static const std::vector<MediaFile> files = MadeByFfmpeg(MakeMp3s);
  return files;
}

}  // namespace kestrel::testing
