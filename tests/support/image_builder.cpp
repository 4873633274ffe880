#include "support/image_builder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "support/fixture_samples.h"

namespace kestrel::testing {

uint64_t PlacedFile::sector_count() const {
  return (byte_count + ImageBuilder::kSectorBytes - 1) / ImageBuilder::kSectorBytes;
}

ImageBuilder::ImageBuilder(uint64_t tail_seed) : tail_random_(tail_seed) {}

void ImageBuilder::AddZeros(uint64_t sectors) {
  image_.resize(image_.size() + sectors * kSectorBytes, 0);
}

void ImageBuilder::AddRandom(uint64_t sectors, uint64_t seed, Filler kind) {
  if (kind == Filler::kZeros) {
    AddZeros(sectors);
    return;
  }
  std::mt19937_64 random(seed);
  for (uint64_t i = 0; i < sectors; ++i) {
    size_t start = image_.size();
    AppendFiller(kSectorBytes, kind, random);
    std::copy(kRandomSectorMark.begin(), kRandomSectorMark.end(), image_.begin() + start);
  }
}

PlacedFile ImageBuilder::AddFile(std::span<const uint8_t> bytes, std::string label, Filler tail) {
  PlacedFile placed{std::move(label), sector_count(), bytes.size()};
  image_.insert(image_.end(), bytes.begin(), bytes.end());
  AppendFiller((kSectorBytes - bytes.size() % kSectorBytes) % kSectorBytes, tail, tail_random_);
  files_.push_back(placed);
  return placed;
}

PlacedFile ImageBuilder::AddSample(std::string_view file, Filler tail) {
  std::vector<uint8_t> bytes = ReadFixtureSample(file);
  return AddFile(bytes, std::string(file), tail);
}

void ImageBuilder::AppendFiller(size_t count, Filler kind, std::mt19937_64& random) {
  if (kind == Filler::kZeros) {
    image_.resize(image_.size() + count, 0);
    return;
  }
  size_t at = image_.size();
  image_.resize(at + count);
  for (size_t done = 0; done < count;) {
    uint64_t word = random();
    for (int b = 0; b < 8 && done < count; ++b, ++done, word >>= 8) {
      auto value = static_cast<uint8_t>(word);
      if (kind == Filler::kRandomNoEndMarkers) value = static_cast<uint8_t>(0x80 + value % 127);
      image_[at + done] = value;
    }
  }
}

void ImageBuilder::WriteTo(const std::string& path) const {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot create " + path + ": " + std::strerror(errno));
  out.write(reinterpret_cast<const char*>(image_.data()),
            static_cast<std::streamsize>(image_.size()));
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace kestrel::testing
