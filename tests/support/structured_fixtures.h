#pragma once
// Sample files of the structured carving tests (tests/fixtures/structured/, made by
// tests/fixtures/make_structured_samples.sh) and the images the tests carve them from.

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel::testing {

// The bytes of a committed sample; a name ending in ".gz" is unpacked (with gzip). Empty when
// the file is missing.
std::vector<uint8_t> StructuredSample(const std::string& name);

// A source image: `before` zero sectors, the file, then `after` zero bytes (the image is then
// padded to whole sectors).
std::vector<uint8_t> ImageWithFileAt(const std::vector<uint8_t>& file, uint64_t before = 3,
                                     size_t after = 8192);

// A valid GIF of exactly `bytes` bytes (at least 38): a 1x1 picture padded by a comment extension
// of `fill` bytes, for tests that need a GIF of a given size.
std::vector<uint8_t> PaddedGif(size_t bytes, uint8_t fill = 0x07);

// Whether `data` starts with all of `prefix`.
bool StartsWith(const std::vector<uint8_t>& data, const std::vector<uint8_t>& prefix);

}  // namespace kestrel::testing
