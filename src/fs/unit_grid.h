#pragma once
// The allocation units of the volume at the start of a source, as a file's pieces lie in them:
// a FAT volume's clusters from its data region on, an exFAT volume's from its cluster heap on,
// an NTFS volume's clusters from its first sector.

#include <cstdint>
#include <optional>

#include "platform/byte_source.h"

namespace kestrel {

// Units of `unit_sectors` sectors, one starting at sector `anchor`.
struct UnitGrid {
  uint64_t anchor = 0;
  uint64_t unit_sectors = 8;
};

// The cluster grid of the FAT, exFAT or NTFS volume whose boot sector is the source's first sector;
// none for any other source (a whole disk, a raw image).
std::optional<UnitGrid> VolumeUnitGrid(ByteSource& source);

}  // namespace kestrel
