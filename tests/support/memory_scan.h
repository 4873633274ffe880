#pragma once
// The raw scan's carving over an image in memory: every sector through the signature dispatch,
// with the driver's windows, and the carved files kept in memory. What the raw scan writes to
// the run folder, without the file system.

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "carve/dispatch.h"
#include "run/file_types.h"
#include "support/memory_writer.h"
#include "support/temp_dir.h"

namespace kestrel::testing {

// How each sector reaches the carving: the product's dispatch, or one over a test's own table
// of signature rows (SignatureDispatch<rows>::Sector).
using SectorDispatch = DispatchVerdict (*)(CarveEngine&, const SectorInput&);

std::vector<MemoryWriter::File> CarveInMemory(const std::vector<uint8_t>& image,
                                              const TypeSet& selected = kAllFileTypesMask,
                                              SectorDispatch dispatch = DispatchSector);

// The bytes of the files CarveInMemory gives, in order.
std::vector<std::vector<uint8_t>> CarvedBytes(const std::vector<uint8_t>& image,
                                              const TypeSet& selected = kAllFileTypesMask);

// The files a scan must give back, in order, under the names the writer gives them.
class ExpectedFiles {
 public:
  void Add(const std::string& extension, std::vector<uint8_t> bytes);
  const std::vector<MemoryWriter::File>& files() const { return files_; }

 private:
  std::map<std::string, uint64_t> numbers_;
  std::vector<MemoryWriter::File> files_;
};

// Carves `image` in memory and checks that exactly the expected files come back, in order and
// byte for byte.
void ExpectCarved(const std::vector<uint8_t>& image, const ExpectedFiles& expected,
                  const TypeSet& selected = kAllFileTypesMask);

}  // namespace kestrel::testing
