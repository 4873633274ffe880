#pragma once
// A whole file broken every way a contiguous carve of a fragmented file breaks it, for the tests
// of the whole-file checks, made of the damages of damaged_blocks.h.

#include <cstdint>
#include <string>
#include <vector>

#include "support/media_files.h"

namespace kestrel::testing {

struct DamagedFile {
  std::string what;
  std::vector<uint8_t> bytes;
};

// Each 4 KiB block of `file` after its first and before its last replaced by random bytes, by
// text, by zeros and by the same block of `other` (when `other` reaches it), and the same block
// taken out; the head of `file` (its first half, in whole blocks) followed by the rest of
// `other`; `file` cut in half.
std::vector<DamagedFile> DamagedVariants(const std::vector<uint8_t>& file,
                                         const std::vector<uint8_t>& other);

// The damaged variants of every file of `files`, each with the next file of the list as the
// other file; `what` names the file and the damage.
std::vector<DamagedFile> DamagedVariantsOf(const std::vector<MediaFile>& files);

}  // namespace kestrel::testing
