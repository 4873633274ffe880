#include "support/damaged_files.h"

#include <random>

namespace kestrel::testing {
namespace {

constexpr size_t kBlock = 4096;

using Bytes = std::vector<uint8_t>;

Bytes Replaced(const Bytes& file, size_t at, const Bytes& block) {
  Bytes out = file;
  std::copy(block.begin(), block.end(), out.begin() + static_cast<std::ptrdiff_t>(at));
  return out;
}

Bytes Noise(uint32_t seed) {
  std::mt19937 random(seed);
  Bytes block(kBlock);
  for (uint8_t& b : block) b = static_cast<uint8_t>(random());
  return block;
}

Bytes Text() {
  const std::string line = "The quick brown fox jumps over the lazy dog, 0123456789.\n";
  Bytes block;
  while (block.size() < kBlock) block.insert(block.end(), line.begin(), line.end());
  block.resize(kBlock);
  return block;
}

}  // namespace

std::vector<DamagedFile> DamagedVariants(const Bytes& file, const Bytes& other) {
  std::vector<DamagedFile> variants;
  const size_t blocks = file.size() / kBlock;
  for (size_t k = 1; k + 1 < blocks; ++k) {
    const size_t at = k * kBlock;
    const std::string where = " at block " + std::to_string(k);
    variants.push_back(
        {"random bytes" + where, Replaced(file, at, Noise(static_cast<uint32_t>(k)))});
    variants.push_back({"text" + where, Replaced(file, at, Text())});
    variants.push_back({"zeros" + where, Replaced(file, at, Bytes(kBlock, 0))});
    if (other.size() >= at + kBlock) {
      const Bytes foreign(other.begin() + static_cast<std::ptrdiff_t>(at),
                          other.begin() + static_cast<std::ptrdiff_t>(at + kBlock));
      variants.push_back({"another file's block" + where, Replaced(file, at, foreign)});
    }
    Bytes gap(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(at));
    gap.insert(gap.end(), file.begin() + static_cast<std::ptrdiff_t>(at + kBlock), file.end());
    variants.push_back({"block missing" + where, gap});
  }
  const size_t head = file.size() / 2 / kBlock * kBlock;
  if (head > 0 && other.size() > head) {
    Bytes mixed(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(head));
    mixed.insert(mixed.end(), other.begin() + static_cast<std::ptrdiff_t>(head), other.end());
    variants.push_back({"another file's tail", mixed});
  }
  variants.push_back({"cut in half", Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(
                                                                            file.size() / 2))});
  return variants;
}

std::vector<DamagedFile> DamagedVariantsOf(const std::vector<MediaFile>& files) {
  std::vector<DamagedFile> all;
  for (size_t k = 0; k < files.size(); ++k) {
    const MediaFile& other = files[(k + 1) % files.size()];
    for (DamagedFile& variant : DamagedVariants(files[k].bytes, other.bytes)) {
      all.push_back({files[k].name + ": " + variant.what, std::move(variant.bytes)});
    }
  }
  return all;
}

}  // namespace kestrel::testing
