#include "support/damaged_blocks.h"

#include <algorithm>
#include <random>
#include <string>

#include "platform/testing/source_doubles.h"

namespace kestrel::testing {

std::vector<uint8_t> NoiseBlock(uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> block(kDamageBlock);
  for (uint8_t& b : block) b = static_cast<uint8_t>(random());
  return block;
}

std::vector<uint8_t> TextBlock() {
  const std::string line = "The quick brown fox jumps over the lazy dog, 0123456789.\n";
  std::vector<uint8_t> block;
  while (block.size() < kDamageBlock) block.insert(block.end(), line.begin(), line.end());
  block.resize(kDamageBlock);
  return block;
}

std::vector<uint8_t> ZeroBlock() {
  return std::vector<uint8_t>(kDamageBlock, 0);
}

std::vector<uint8_t> WithBlock(std::vector<uint8_t> file, size_t at,
                               const std::vector<uint8_t>& block) {
  const size_t n = std::min({block.size(), kDamageBlock, file.size() - std::min(at, file.size())});
  std::copy_n(block.begin(), n, file.begin() + static_cast<std::ptrdiff_t>(at));
  return file;
}

std::vector<uint8_t> WithoutBlock(std::vector<uint8_t> file, size_t at) {
  const auto from = file.begin() + static_cast<std::ptrdiff_t>(std::min(at, file.size()));
  file.erase(from, from + static_cast<std::ptrdiff_t>(std::min<size_t>(
                              kDamageBlock, static_cast<size_t>(file.end() - from))));
  return file;
}

std::vector<uint8_t> Spliced(const std::vector<uint8_t>& head, const std::vector<uint8_t>& tail,
                             size_t at) {
  std::vector<uint8_t> out(head.begin(),
                           head.begin() + static_cast<std::ptrdiff_t>(std::min(at, head.size())));
  if (at < tail.size()) {
    out.insert(out.end(), tail.begin() + static_cast<std::ptrdiff_t>(at), tail.end());
  }
  return out;
}

Whole CheckInMemory(WholeCheck check, const std::vector<uint8_t>& file) {
  MemorySource source(file);
  return check(source, 0, file.size());
}

}  // namespace kestrel::testing
