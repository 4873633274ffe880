#include "support/structured_fixtures.h"

#include <algorithm>

#include "support/temp_dir.h"

namespace kestrel::testing {

std::vector<uint8_t> StructuredSample(const std::string& name) {
  const std::string path = std::string(KESTREL_SOURCE_DIR) + "/tests/fixtures/structured/" + name;
  if (name.size() < 3 || name.compare(name.size() - 3, 3, ".gz") != 0) return ReadFileBytes(path);
  TempDir dir;
  const std::string unpacked = dir / "sample";
  if (RunCommand("gzip -dc '" + path + "' > '" + unpacked + "'") != 0) return {};
  return ReadFileBytes(unpacked);
}

std::vector<uint8_t> ImageWithFileAt(const std::vector<uint8_t>& file, uint64_t before,
                                     size_t after) {
  std::vector<uint8_t> image(before * 512, 0);
  image.insert(image.end(), file.begin(), file.end());
  image.resize(image.size() + after, 0);
  image.resize((image.size() + 511) / 512 * 512, 0);
  return image;
}

std::vector<uint8_t> PaddedGif(size_t bytes, uint8_t fill) {
  // Header and screen of 1x1 (a global colour table of two colours), the picture, the trailer;
  // the comment extension (21 FE, sub-blocks, 00) takes the rest.
  constexpr size_t kFixed = 13 + 15 + 1 + 3;
  size_t left = bytes > kFixed + 6 ? bytes - kFixed - 6 : 0;
  const bool colour_table = left != 1;  // a single byte is no sub-block: drop the table instead
  if (!colour_table) left += 6;
  std::vector<uint8_t> gif = {
      'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, static_cast<uint8_t>(colour_table ? 0x80 : 0),
      0,   0};
  if (colour_table) gif.insert(gif.end(), {0, 0, 0, 0xFF, 0xFF, 0xFF});
  gif.insert(gif.end(), {0x21, 0xFE});
  while (left > 0) {
    size_t take = std::min<size_t>(256, left);
    if (left - take == 1) --take;
    gif.push_back(static_cast<uint8_t>(take - 1));
    gif.insert(gif.end(), take - 1, fill);
    left -= take;
  }
  gif.push_back(0);
  gif.insert(gif.end(), {0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x44, 0x01, 0, 0x3B});
  return gif;
}

bool StartsWith(const std::vector<uint8_t>& data, const std::vector<uint8_t>& prefix) {
  return data.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), data.begin());
}

}  // namespace kestrel::testing
