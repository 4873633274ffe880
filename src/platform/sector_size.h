#pragma once
// The unit of every sector number and transfer: 512 bytes, also on devices with larger physical
// sectors. Defined at the bottom so that sources, carving and the scan agree without depending on
// one another.

#include <cstdint>

namespace kestrel {

inline constexpr uint32_t kSectorBytes = 512;

}  // namespace kestrel
