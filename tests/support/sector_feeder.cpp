#include "support/sector_feeder.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace kestrel::testing {
namespace {
constexpr uint64_t kSector = 512;
}

SectorFeeder::SectorFeeder(const std::vector<uint8_t>& image)
    : size_(image.size()), sectors_((image.size() + kSector - 1) / kSector) {
  const size_t total = kLookBehind + sectors_ * kSector + kLookAhead;
  buffer_ = std::make_unique<uint8_t[]>(total);  // value-initialised: zeros
  if (!image.empty()) std::memcpy(buffer_.get() + kLookBehind, image.data(), image.size());
}

SectorInput SectorFeeder::At(uint64_t sector) const {
  if (sector >= sectors_) throw std::out_of_range("sector past the image");
  SectorInput in;
  const uint64_t start = sector * kSector;
  in.data = buffer_.get() + kLookBehind + start;
  in.count = static_cast<uint32_t>(kSector);
  in.sector = sector;
  const uint64_t end = start + kSector;
  in.valid_after =
      static_cast<size_t>(size_ > end ? std::min<uint64_t>(size_ - end, kLookAhead) : 0);
  in.valid_before = static_cast<size_t>(std::min<uint64_t>(start, kLookBehind));
  return in;
}

}  // namespace kestrel::testing
