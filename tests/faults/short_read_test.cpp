// The kernel ends a read early at a bad sector and returns the bytes before it: such a short
// read is a failed read unless it reached the source's end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "sources/scan_source.h"

namespace kestrel {
namespace {

// A source whose reads stop short of `stop` (as pread does at an unreadable page).
class StoppingSource : public ByteSource {
 public:
  StoppingSource(uint64_t size, uint64_t stop) : size_(size), stop_(stop) {}
  int64_t ReadAt(uint64_t offset, void* buffer, size_t length) override {
    if (offset >= size_) return 0;
    const uint64_t end = std::min<uint64_t>({offset + length, size_, std::max(offset, stop_)});
    if (end == offset) return -1;
    std::memset(buffer, 0x5A, end - offset);
    return static_cast<int64_t>(end - offset);
  }
  uint64_t Size() const override { return size_; }

 private:
  uint64_t size_, stop_;
};

TEST(TransferSectorsTest, AReadCutShortBeforeTheEndFailsAndOneAtTheEndSucceeds) {
  std::vector<uint8_t> buffer(64 * 512, 0xEE);
  StoppingSource bad_sector(1 << 20, 100 * 512);
  EXPECT_EQ(TransferSectors(bad_sector, 64, 64, buffer.data()), 1);
  EXPECT_EQ(buffer[36 * 512 - 1], 0x5A) << "what was read is kept";
  EXPECT_EQ(buffer[36 * 512], 0) << "the rest is zeros";
  EXPECT_EQ(TransferSectors(bad_sector, 0, 64, buffer.data()), 0);

  StoppingSource truncated(70 * 512 + 100, UINT64_MAX);
  EXPECT_EQ(TransferSectors(truncated, 64, 64, buffer.data()), 0);
  EXPECT_EQ(buffer[6 * 512 + 99], 0x5A);
  EXPECT_EQ(buffer[6 * 512 + 100], 0);
}

}  // namespace
}  // namespace kestrel
