#include "faults/planted_files.h"

#include <algorithm>
#include <random>

#include "support/fixture_samples.h"
#include "support/temp_dir.h"

namespace kestrel::testing {
namespace {

constexpr size_t kPngHeadBytes = 33;  // signature and IHDR chunk
constexpr size_t kPngTailBytes = 12;  // IEND chunk

}  // namespace

std::vector<uint8_t> PlantedPng(size_t length, uint32_t seed) {
  const std::vector<uint8_t> sample = ReadFixtureSample("picture.png");
  std::vector<uint8_t> png(sample.begin(), sample.begin() + kPngHeadBytes);
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> high_byte(0x80, 0xFE);  // no end marker can form
  while (png.size() + kPngTailBytes < length)
    png.push_back(static_cast<uint8_t>(high_byte(random)));
  png.insert(png.end(), sample.end() - kPngTailBytes, sample.end());
  return png;
}

std::vector<std::string> RecoveredNames(const std::string& folder) {
  std::vector<std::string> names = ListFiles(folder);
  std::erase_if(names, [](const std::string& name) { return name.empty() || name[0] == '.'; });
  return names;
}

std::vector<std::string> FilesNotWhole(const std::string& folder,
                                       const std::vector<std::vector<uint8_t>>& originals) {
  std::vector<std::string> bad;
  for (const std::string& name : RecoveredNames(folder)) {
    const std::vector<uint8_t> bytes = ReadFileBytes(folder + "/" + name);
    if (std::find(originals.begin(), originals.end(), bytes) == originals.end()) {
      bad.push_back(name + " (" + std::to_string(bytes.size()) + " bytes)");
    }
  }
  return bad;
}

}  // namespace kestrel::testing
