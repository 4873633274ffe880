#pragma once
// Files planted into test images for the fault tests, and the checks that what came back is
// whole: PNG pictures of chosen sizes (random bytes that hold no end marker between the header
// of picture.png and its IEND chunk), so a cut-short copy always differs from its original.

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel::testing {

std::vector<uint8_t> PlantedPng(size_t length, uint32_t seed);

// Names of the recovered (not hidden) files of `folder` whose bytes equal none of `originals`.
std::vector<std::string> FilesNotWhole(const std::string& folder,
                                       const std::vector<std::vector<uint8_t>>& originals);

// Recovered (not hidden) file names of `folder`, sorted.
std::vector<std::string> RecoveredNames(const std::string& folder);

}  // namespace kestrel::testing
