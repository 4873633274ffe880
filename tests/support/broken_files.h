#pragma once
// Carved files as fragmentation breaks them, for the tests of the formats' whole-file checks: a
// 4 KiB block in the middle replaced by random bytes, text, zeros or a block of another file of
// the same type; a block missing (the rest shifted up); the head of the file followed by the tail
// of another; the file cut short.

#include <cstdint>
#include <vector>

#include "carve/format.h"
#include "run/file_types.h"

namespace kestrel::testing {

enum class Break : uint8_t {
  kRandomBlock,
  kTextBlock,
  kZeroBlock,
  kForeignBlock,
  kMissingBlock,
  kJoined,
  kCut,
};
inline constexpr Break kEveryBreak[] = {
    Break::kRandomBlock,  Break::kTextBlock, Break::kZeroBlock, Break::kForeignBlock,
    Break::kMissingBlock, Break::kJoined,    Break::kCut};
const char* BreakName(Break kind);

// `file` (at least 12 KiB) broken by `kind` at its middle 4 KiB block; `other` gives the foreign
// block (from its own middle) and the joined tail (from the same offset, to `file`'s length
// where `other` is long enough).
std::vector<uint8_t> Broken(const std::vector<uint8_t>& file, Break kind,
                            const std::vector<uint8_t>& other);

// The bytes of the files a scan of an image that holds `broken` and then `whole` keeps, with
// only `types` selected.
std::vector<std::vector<uint8_t>> KeptFromBrokenAndWhole(const std::vector<uint8_t>& broken,
                                                         const std::vector<uint8_t>& whole,
                                                         const TypeSet& types);

// `check` run on `file` laid in a source between other bytes.
Whole CheckInSource(WholeCheck check, const std::vector<uint8_t>& file);

}  // namespace kestrel::testing
