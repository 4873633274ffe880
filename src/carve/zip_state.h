#pragma once
// State of the ZIP / Office Open XML carving routine while its archive is open.

#include <cstdint>

namespace kestrel {

// Which Office document an archive holds, from its part folders.
enum : uint8_t { kZipKindPlain = 0, kZipKindDocx = 241, kZipKindXlsx = 242, kZipKindPptx = 243 };

struct ZipState {
  // The archive's local headers carry the marks Office leaves (version 2.0, flags 6, date
  // 1 January 1980).
  bool ooxml_marks = false;
  uint8_t doc_kind = kZipKindPlain;
};

}  // namespace kestrel
