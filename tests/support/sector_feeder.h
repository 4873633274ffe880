#pragma once
// Feeds a byte image to a carving routine one sector at a time, as the raw scan driver does:
// each SectorInput can read the real bytes before and after its sector (look-behind and
// look-ahead), zeros before the image's start and past its end.

#include <cstdint>
#include <memory>
#include <vector>

#include "carve/sector_input.h"

namespace kestrel::testing {

class SectorFeeder {
 public:
  // The image is padded with zeros to whole 512-byte sectors.
  explicit SectorFeeder(const std::vector<uint8_t>& image);

  uint64_t sector_count() const { return sectors_; }

  // The input for one sector of the image (throws std::out_of_range past its last sector).
  SectorInput At(uint64_t sector) const;

 private:
  uint64_t size_ = 0;
  uint64_t sectors_ = 0;
  // kLookBehind zeros, the image in whole sectors, kLookAhead zeros: exactly what a SectorInput
  // may read, so that a sanitizer catches any read beyond it.
  std::unique_ptr<uint8_t[]> buffer_;
};

}  // namespace kestrel::testing
