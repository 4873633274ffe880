#pragma once
// The project's own sample files (tests/fixtures/samples/, made by tests/fixtures/make_samples.sh):
// where they are, how to read them, and what the raw scan should make of each. The folder's
// README.md explains every entry in words.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "run/file_types.h"

namespace kestrel::testing {

// A raw scan over an image holding a sample writes the sample byte for byte, with zero bytes
// after it up to the end of its last sector and zero sectors (or a new file's header) after that.
struct FixtureSample {
  std::string_view file;       // name in tests/fixtures/samples/
  int row;                     // signature row (1..36 of the dispatch table) that starts it
  TypeCode type;               // type code of the output file
  std::string_view extension;  // extension of the carved file
};

// Every committed sample, in the order of the signature rows.
std::span<const FixtureSample> FixtureSamples();
// The entry of a sample by file name; throws std::out_of_range for an unknown name.
const FixtureSample& FixtureSampleNamed(std::string_view file);

// Absolute path of tests/fixtures/samples (no trailing "/").
std::string FixtureSamplesDir();
// The bytes of a committed sample; throws std::runtime_error when it is missing or empty.
std::vector<uint8_t> ReadFixtureSample(std::string_view file);

}  // namespace kestrel::testing
