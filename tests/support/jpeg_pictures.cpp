#include "support/jpeg_pictures.h"

#include <filesystem>
#include <random>

namespace kestrel::testing {

bool HaveJpegTools() {
  return HaveTool("cjpeg") && HaveTool("gm");
}

std::vector<uint8_t> CjpegPicture(const TempDir& dir, const std::string& options, int width,
                                  int height) {
  const std::string ppm = dir / "plasma.ppm";
  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  if (RunCommand("gm convert -size " + size + " plasma:fractal " + ppm + " 2>/dev/null") != 0) {
    return {};
  }
  const std::string out = dir / "cjpeg-out.jpg";
  std::filesystem::remove(out);
  if (RunCommand("cjpeg " + options + " -outfile " + out + " " + ppm) != 0) return {};
  return ReadFileBytes(out);
}

bool HaveDrawingTools() {
  return HaveJpegTools() && HaveTool("ffmpeg");
}

namespace {

// Three colour channels, each the sum of three sine waves whose strength, direction and phase
// `seed` chooses, then grain.
std::string WavesFilter(uint32_t seed) {
  std::mt19937 random(seed);
  const auto in = [&random](int low, int high) {
    return low + static_cast<int>(random() % static_cast<uint32_t>(high - low + 1));
  };
  std::string filter = "format=rgb24,geq=";
  for (const char* channel : {"r", "g", "b"}) {
    filter += std::string(channel) + "='128";
    for (int wave = 0; wave < 3; ++wave) {
      filter += "+" + std::to_string(in(15, 50)) + "*sin(X/" + std::to_string(in(8, 90)) + "+Y/" +
                std::to_string(in(8, 90)) + "+" + std::to_string(in(0, 6)) + ")";
    }
    filter += "':";
  }
  filter.pop_back();
  return filter + ",noise=alls=" + std::to_string(in(10, 16)) + ":all_seed=" + std::to_string(seed);
}

}  // namespace

std::vector<uint8_t> CjpegDrawn(const TempDir& dir, const std::string& options, int width,
                                int height, uint32_t seed, const std::string& filter) {
  const std::string ppm = dir / "drawn.ppm";
  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  const std::string graph = filter.empty() ? WavesFilter(seed) : filter;
  if (RunCommand("ffmpeg -v error -y -f lavfi -i color=black:size=" + size + ":rate=1 -vf \"" +
                 graph + "\" -frames:v 1 " + ppm) != 0) {
    return {};
  }
  const std::string out = dir / "cjpeg-drawn.jpg";
  std::filesystem::remove(out);
  if (RunCommand("cjpeg " + options + " -outfile " + out + " " + ppm) != 0) return {};
  return ReadFileBytes(out);
}

}  // namespace kestrel::testing
