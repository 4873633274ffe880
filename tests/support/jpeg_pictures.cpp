#include "support/jpeg_pictures.h"

#include <filesystem>

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

}  // namespace kestrel::testing
