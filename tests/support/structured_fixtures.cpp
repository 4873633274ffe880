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

bool StartsWith(const std::vector<uint8_t>& data, const std::vector<uint8_t>& prefix) {
  return data.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), data.begin());
}

}  // namespace kestrel::testing
