#include "support/fixture_samples.h"

#include <array>
#include <stdexcept>

#include "support/temp_dir.h"

namespace kestrel::testing {
namespace {

constexpr std::array kSamples{
    FixtureSample{"tone.aif", 1, kAif, "AIF"},
    FixtureSample{"picture.bmp", 2, kBmp, "BMP"},
    FixtureSample{"clip.avi", 3, kAvi, "AVI"},
    FixtureSample{"tone.wav", 4, kWav, "WAV"},
    FixtureSample{"cursor.cur", 5, kCur, "CUR"},
    FixtureSample{"icon.ico", 6, kIco, "ICO"},
    FixtureSample{"song.mid", 10, kMid, "MID"},
    // Exact when the length is data offset + data size; the data size alone is 40 bytes short.
    FixtureSample{"tone.snd", 11, kSnd, "SND"},
    FixtureSample{"picture.gif", 15, kGif, "GIF"},
    FixtureSample{"jfif.jpg", 16, kJpg, "JPG"},
    FixtureSample{"clip.mpg", 17, kMpg, "MPG"},
    FixtureSample{"document.pdf", 18, kPdf, "PDF"},
    FixtureSample{"placeable.wmf", 19, kWmf, "WMF"},
    FixtureSample{"standard.wmf", 20, kWmf, "WMF"},
    FixtureSample{"clip.wmv", 21, kWmv, "WMV"},
    FixtureSample{"playlist.asx", 22, kAsx, "ASX"},
    FixtureSample{"picture.png", 23, kPng, "PNG"},
    FixtureSample{"fragment.doc", 24, kDoc, "DOC"},
    FixtureSample{"document.rtf", 25, kRtf, "RTF"},
    FixtureSample{"camera.raf", 26, kRaf, "RAF"},
    FixtureSample{"camera.crw", 27, kCrw, "CRW"},
    FixtureSample{"camera.mrw", 28, kMrw, "MRW"},
    FixtureSample{"voice.msv", 29, kMsv, "MSV"},
    FixtureSample{"voice.msf", 30, kMsf, "MSF"},
    FixtureSample{"plain.jpg", 31, kJpg, "JPG"},
    FixtureSample{"mailbox.pst", 32, kPst, "PST"},
    FixtureSample{"exif.jpg", 33, kJpg, "JPG"},
    FixtureSample{"camera.x3f", 34, kX3f, "X3F"},
    FixtureSample{"tone.mp3", 36, kMp3, "MP3"},
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
