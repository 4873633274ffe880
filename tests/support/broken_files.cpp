#include "support/broken_files.h"

#include <algorithm>
#include <random>
#include <string_view>

#include "platform/testing/source_doubles.h"
#include "support/image_builder.h"
#include "support/scan_harness.h"

namespace kestrel::testing {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t kBlock = 4096;

// The 4 KiB-aligned block offset at the middle of `file`.
size_t MiddleBlock(const Bytes& file) {
  return file.size() / 2 / kBlock * kBlock;
}

Bytes Block(Break kind, const Bytes& other) {
  Bytes block(kBlock, 0);
  if (kind == Break::kRandomBlock) {
    std::mt19937 random(20240607);
    for (uint8_t& b : block) b = static_cast<uint8_t>(random());
  }
  if (kind == Break::kTextBlock) {
    const std::string_view line = "The quick brown fox jumps over the lazy dog, 0123456789.\n";
    for (size_t k = 0; k < kBlock; ++k) block[k] = static_cast<uint8_t>(line[k % line.size()]);
  }
  if (kind == Break::kForeignBlock) {
    const size_t from = MiddleBlock(other);
    std::copy_n(other.begin() + static_cast<ptrdiff_t>(from), kBlock, block.begin());
  }
  return block;
}

}  // namespace

const char* BreakName(Break kind) {
  static constexpr const char* kNames[] = {"a block of random bytes",
                                           "a block of text",
                                           "a block of zeros",
                                           "a block of another file",
                                           "a block missing",
                                           "the tail of another file",
                                           "cut short"};
  return kNames[static_cast<size_t>(kind)];
}

Bytes Broken(const Bytes& file, Break kind, const Bytes& other) {
  const size_t at = MiddleBlock(file);
  const auto head_end = file.begin() + static_cast<ptrdiff_t>(at);
  Bytes broken(file.begin(), head_end);
  if (kind == Break::kMissingBlock) {
    broken.insert(broken.end(), head_end + kBlock, file.end());
  } else if (kind == Break::kJoined) {
    const size_t end = std::max(at, std::min(other.size(), file.size()));
    broken.insert(broken.end(), other.begin() + static_cast<ptrdiff_t>(std::min(at, end)),
                  other.begin() + static_cast<ptrdiff_t>(end));
  } else if (kind != Break::kCut) {
    const Bytes block = Block(kind, other);
    broken.insert(broken.end(), block.begin(), block.end());
    broken.insert(broken.end(), head_end + kBlock, file.end());
  }
  return broken;
}

std::vector<Bytes> KeptFromBrokenAndWhole(const Bytes& broken, const Bytes& whole,
                                          const TypeSet& types) {
  ImageBuilder image;
  image.AddZeros(4);
  image.AddFile(broken, "broken");
  image.AddZeros(4);
  image.AddFile(whole, "whole");
  image.AddZeros(4);
  TempDir dir;
  const auto scan = ScanImage(image.bytes(), dir, OnlyTypes(types));
  std::vector<Bytes> kept;
  for (const std::string& name : scan->files) kept.push_back(scan->File(name));
  return kept;
}

Whole CheckInSource(WholeCheck check, const Bytes& file) {
  constexpr size_t kBefore = 3000, kAfter = 1000;
  Bytes bytes(kBefore, 'Z');
  bytes.insert(bytes.end(), file.begin(), file.end());
  bytes.resize(bytes.size() + kAfter, 'Z');
  MemorySource source(std::move(bytes));
  return check(source, kBefore, file.size());
}

}  // namespace kestrel::testing
