// MPEG program streams and MPEG audio written by ffmpeg, laid into images among zeros, among
// random bytes and next to files of other types, come back from the scan byte for byte; random
// bytes, and crafted headers in them, give no file.

#include <cstring>
#include <iterator>
#include <random>

#include "support/fixture_samples.h"
#include "support/image_builder.h"
#include "support/media_files.h"
#include "support/memory_scan.h"

namespace kestrel {
namespace {

using testing::ExpectedFiles;
using testing::Filler;
using testing::ImageBuilder;
using testing::MediaFile;

// Every ffmpeg stream and MP3 (program streams carved as MPG, audio as MP3).
std::vector<std::pair<const MediaFile*, const char*>> AllMedia() {
  std::vector<std::pair<const MediaFile*, const char*>> all;
  for (const auto& file : testing::FfmpegProgramStreams()) all.push_back({&file, "MPG"});
  for (const auto& file : testing::FfmpegMp3s()) all.push_back({&file, "MP3"});
  return all;
}

TEST(MediaRecovery, EveryStreamAmongZerosOrRandomBytesComesBackWhole) {
  if (AllMedia().empty()) GTEST_SKIP() << "ffmpeg is not installed";
  for (Filler filler : {Filler::kZeros, Filler::kRandom}) {
    SCOPED_TRACE(filler == Filler::kZeros ? "zeros" : "random");
    ImageBuilder image(5);
    ExpectedFiles expected;
    uint64_t seed = 31;
    for (const auto& [file, extension] : AllMedia()) {
      image.AddRandom(5, seed++, filler);  // zero sectors for kZeros
      image.AddFile(file->bytes, file->name, filler);
      expected.Add(extension, file->bytes);
    }
    image.AddRandom(16, seed, filler);
    testing::ExpectCarved(image.bytes(), expected);
  }
}

TEST(MediaRecovery, StreamsBackToBackAndNextToFilesOfOtherTypesComeBackWhole) {
  if (AllMedia().empty()) GTEST_SKIP() << "ffmpeg is not installed";
  const char* const others[] = {"jfif.jpg", "picture.png", "document.pdf", "tone.wav",
                                "song.mid", "clip.avi",    "picture.bmp"};
  ImageBuilder image(9);
  ExpectedFiles expected;
  size_t next_other = 0;
  for (const auto& [file, extension] : AllMedia()) {
    // Every second stream follows the one before it directly, its last sector's rest random.
    if (next_other % 2 == 0) {
      const char* other = others[next_other / 2 % std::size(others)];
      image.AddSample(other);
      expected.Add(std::string(testing::FixtureSampleNamed(other).extension),
                   testing::ReadFixtureSample(other));
    }
    ++next_other;
    image.AddFile(file->bytes, file->name, Filler::kRandom);
    expected.Add(extension, file->bytes);
  }
  image.AddSample("picture.png");
  expected.Add("PNG", testing::ReadFixtureSample("picture.png"));
  image.AddZeros(8);
  testing::ExpectCarved(image.bytes(), expected);
}

TEST(MediaRecovery, StreamsComeBackUnderTheirOwnSelectionOnly) {
  const auto& streams = testing::FfmpegProgramStreams();
  const auto& mp3s = testing::FfmpegMp3s();
  if (streams.empty() || mp3s.empty()) GTEST_SKIP() << "ffmpeg is not installed";
  ImageBuilder image;
  ExpectedFiles only_mpg;
  ExpectedFiles only_mp3;
  for (size_t k = 0; k < std::min(streams.size(), mp3s.size()); ++k) {
    image.AddFile(streams[k].bytes, streams[k].name);
    only_mpg.Add("MPG", streams[k].bytes);
    image.AddFile(mp3s[k].bytes, mp3s[k].name);
    only_mp3.Add("MP3", mp3s[k].bytes);
  }
  image.AddZeros(4);
  testing::ExpectCarved(image.bytes(), only_mpg, TypeBit(kMpg));
  testing::ExpectCarved(image.bytes(), only_mp3, TypeBit(kMp3));
}

// Random sectors whose first bytes read like a pack header, an ID3v2 tag or two MPEG audio frame
// headers, the rest random: none is a stream.
TEST(MediaRecovery, RandomBytesAndHeadersInThemGiveNoFile) {
  constexpr uint64_t kSectors = 8 * 2048;  // 8 MiB
  ImageBuilder image(3);
  image.AddRandom(kSectors, 91);
  std::vector<uint8_t> bytes = image.bytes();
  // Random bytes from the first byte of every sector, not only after the filler mark.
  std::mt19937_64 random(92);
  for (size_t k = 0; k < kSectors; ++k) {
    const uint64_t value = random();
    std::memcpy(bytes.data() + k * 512, &value, sizeof value);
  }
  static constexpr uint8_t kMpeg1Pack[] = {0x00, 0x00, 0x01, 0xBA, 0x21, 0x00,
                                           0x01, 0x00, 0x01, 0x80, 0x1B, 0x91};
  static constexpr uint8_t kMpeg2Pack[] = {0x00, 0x00, 0x01, 0xBA, 0x44, 0x00, 0x04,
                                           0x00, 0x04, 0x01, 0x01, 0x89, 0xC3, 0xF8};
  static constexpr uint8_t kId3v2[] = {'I', 'D', '3', 3, 0, 0, 0, 0, 0x10, 0x00};
  for (int k = 0; k < 300; ++k) {
    uint8_t* sector = bytes.data() + (1 + random() % (kSectors - 64)) * 512;
    switch (k % 4) {
      case 0:
        std::memcpy(sector, kMpeg1Pack, sizeof kMpeg1Pack);
        break;
      case 1:
        std::memcpy(sector, kMpeg2Pack, sizeof kMpeg2Pack);
        break;
      case 2:
        std::memcpy(sector, kId3v2, sizeof kId3v2);
        break;
      default:
        // Two frame headers 417 bytes apart (128 kbit/s, 44.1 kHz).
        std::memcpy(sector, "\xFF\xFB\x90\x44", 4);
        std::memcpy(sector + 417, "\xFF\xFB\x90\x44", 4);
        break;
    }
  }
  for (const auto& file : testing::CarveInMemory(bytes, TypeBit(kMpg) | TypeBit(kMp3))) {
    ADD_FAILURE() << "junk file " << file.name;
  }
}

}  // namespace
}  // namespace kestrel
