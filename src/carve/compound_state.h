#pragma once
// State of the compound-document carving routine while its file is open.

#include <cstdint>

namespace kestrel {

// What the contents of a compound document tell about the program that wrote it.
enum : uint8_t { kDocKindUnknown = 0, kDocKindExcel = 15, kDocKindWord = 240 };

struct CompoundState {
  uint8_t doc_kind = kDocKindUnknown;
  // The header or the FAT says the document cannot lie whole on the source (or is no document):
  // the routine drops the file at its first sector.
  bool unmeasurable = false;
};

}  // namespace kestrel
