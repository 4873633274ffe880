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

}  // namespace

const std::vector<MediaFile>& FfmpegProgramStreams() {
  static const std::vector<MediaFile> files =
      HaveTool("ffmpeg") ? MakeProgramStreams() : std::vector<MediaFile>{};
  return files;
}

const std::vector<MediaFile>& FfmpegMp3s() {
  static const std::vector<MediaFile> files =
      HaveTool("ffmpeg") ? MakeMp3s() : std::vector<MediaFile>{};
  return files;
}

}  // namespace kestrel::testing
