#include "support/broken_files.h"

#include <algorithm>

#include "platform/testing/source_doubles.h"
#include "support/damaged_blocks.h"
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
  if (kind == Break::kRandomBlock) return NoiseBlock(20240607);
  if (kind == Break::kTextBlock) return TextBlock();
  if (kind == Break::kForeignBlock) {
    const auto from = other.begin() + static_cast<ptrdiff_t>(MiddleBlock(other));
    return Bytes(from, from + kBlock);
  }
  return ZeroBlock();
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
  if (kind == Break::kMissingBlock) return WithoutBlock(file, at);
  if (kind != Break::kJoined && kind != Break::kCut) return WithBlock(file, at, Block(kind, other));
  Bytes broken(file.begin(), file.begin() + static_cast<ptrdiff_t>(at));
  if (kind == Break::kJoined) {
    const size_t end = std::max(at, std::min(other.size(), file.size()));
    broken.insert(broken.end(), other.begin() + static_cast<ptrdiff_t>(std::min(at, end)),
                  other.begin() + static_cast<ptrdiff_t>(end));
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
