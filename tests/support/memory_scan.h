#pragma once
// The raw scan's carving over an image in memory: every sector through the signature dispatch,
// with the driver's windows, and the carved files kept in memory. What the raw scan writes to
// the run folder, without the file system.

#include <cstdint>
#include <vector>

#include "run/file_types.h"
#include "support/memory_writer.h"

namespace kestrel::testing {

std::vector<MemoryWriter::File> CarveInMemory(const std::vector<uint8_t>& image,
                                              uint64_t selected = kAllFileTypesMask);

}  // namespace kestrel::testing
