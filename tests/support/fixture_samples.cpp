#include "support/fixture_samples.h"

#include <array>
#include <stdexcept>

#include "support/temp_dir.h"

namespace kestrel::testing {
namespace {

constexpr CarveResult kExact = CarveResult::kExact;

constexpr std::array kSamples{
    FixtureSample{"tone.aif", 1, kAif, "AIF", kExact, 0},
    FixtureSample{"picture.bmp", 2, kBmp, "BMP", kExact, 0},
    FixtureSample{"clip.avi", 3, kAvi, "AVI", kExact, 0},
    FixtureSample{"tone.wav", 4, kWav, "WAV", kExact, 0},
    FixtureSample{"cursor.cur", 5, kCur, "CUR", kExact, 0},
    FixtureSample{"icon.ico", 6, kIco, "ICO", kExact, 0},
    FixtureSample{"song.mid", 10, kMid, "MID", kExact, 0},
    // Exact when the length is data offset + data size; the data size alone is 40 bytes short.
    FixtureSample{"tone.snd", 11, kSnd, "SND", kExact, 0},
    FixtureSample{"picture.gif", 15, kGif, "GIF", kExact, 0},
    FixtureSample{"jfif.jpg", 16, kJpg, "JPG", kExact, 0},
    FixtureSample{"clip.mpg", 17, kMpg, "MPG", kExact, 0},
    FixtureSample{"document.pdf", 18, kPdf, "PDF", kExact, 0},
    FixtureSample{"placeable.wmf", 19, kWmf, "WMF", kExact, 0},
    FixtureSample{"standard.wmf", 20, kWmf, "WMF", kExact, 0},
    FixtureSample{"clip.wmv", 21, kWmv, "WMV", kExact, 0},
    FixtureSample{"playlist.asx", 22, kAsx, "ASX", kExact, 0},
    FixtureSample{"picture.png", 23, kPng, "PNG", kExact, 0},
    FixtureSample{"fragment.doc", 24, kDoc, "DOC", kExact, 0},
    FixtureSample{"document.rtf", 25, kRtf, "RTF", kExact, 0},
    FixtureSample{"camera.raf", 26, kRaf, "RAF", kExact, 0},
    FixtureSample{"camera.crw", 27, kCrw, "CRW", kExact, 0},
    FixtureSample{"camera.mrw", 28, kMrw, "MRW", kExact, 0},
    FixtureSample{"voice.msv", 29, kMsv, "MSV", kExact, 0},
    FixtureSample{"voice.msf", 30, kMsf, "MSF", kExact, 0},
    FixtureSample{"plain.jpg", 31, kJpg, "JPG", kExact, 0},
    FixtureSample{"mailbox.pst", 32, kPst, "PST", kExact, 0},
    FixtureSample{"exif.jpg", 33, kJpg, "JPG", kExact, 0},
    FixtureSample{"camera.x3f", 34, kX3f, "X3F", kExact, 0},
    FixtureSample{"tone.mp3", 36, kMp3, "MP3", kExact, 0},
};

}  // namespace

std::span<const FixtureSample> FixtureSamples() {
  return kSamples;
}

const FixtureSample& FixtureSampleNamed(std::string_view file) {
  for (const auto& sample : kSamples) {
    if (sample.file == file) return sample;
  }
  throw std::out_of_range("no fixture sample named " + std::string(file));
}

std::string FixtureSamplesDir() {
  return std::string(KESTREL_SOURCE_DIR) + "/tests/fixtures/samples";
}

std::vector<uint8_t> ReadFixtureSample(std::string_view file) {
  std::string path = FixtureSamplesDir() + "/" + std::string(file);
  std::vector<uint8_t> bytes = ReadFileBytes(path);
  if (bytes.empty()) throw std::runtime_error("fixture sample missing or empty: " + path);
  return bytes;
}

}  // namespace kestrel::testing
