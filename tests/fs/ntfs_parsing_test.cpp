// Run lists, file-record geometry and names of the NTFS reader.
#include <gtest/gtest.h>

#include "fs/ntfs/ntfs_runs.h"
#include "fs/ntfs/ntfs_volume.h"

namespace kestrel {
namespace {

std::vector<DataRun> Decode(std::vector<uint8_t> bytes, uint64_t volume = 1000, uint64_t max = 1000,
                            bool* ok = nullptr) {
  std::vector<DataRun> runs;
  bool decoded = DecodeRunList(bytes, 0, volume, max, &runs);
  if (ok) *ok = decoded;
  return decoded ? runs : std::vector<DataRun>{};
}

TEST(NtfsRunList, OffsetsAreSignedAndRelativeToThePreviousRun) {
  // 8 clusters at 100; 4 at 100 - 16 (offset byte 0xF0); a 3-cluster hole; 2 at 84 + 10.
  auto runs = Decode({0x11, 0x08, 0x64, 0x11, 0x04, 0xF0, 0x01, 0x03, 0x11, 0x02, 0x0A, 0x00});
  ASSERT_EQ(runs.size(), 4u);
  EXPECT_EQ(runs[0].lcn, 100u);
  EXPECT_EQ(runs[1].lcn, 84u);
  EXPECT_EQ(runs[1].first_vcn, 8u);
  EXPECT_TRUE(runs[2].sparse);
  EXPECT_EQ(runs[2].cluster_count, 3u);
  EXPECT_EQ(runs[3].lcn, 94u);  // the hole does not move the base
  EXPECT_EQ(runs[3].first_vcn, 15u);
  EXPECT_EQ(TotalClusters(runs), 17u);
}

TEST(NtfsRunList, DamagedListsAreRefused) {
  bool ok = true;
  Decode({0x11, 0x08, 0xF0}, 1000, 1000, &ok);  // starts before cluster 0
  EXPECT_FALSE(ok);
  Decode({0x21, 0x10, 0xE8, 0x03}, 1000, 1000, &ok);  // 16 clusters at 1000: past the volume
  EXPECT_FALSE(ok);
  Decode({0x21, 0x10, 0xD0, 0x03}, 1000, 1000, &ok);  // ends exactly at the volume's end
  EXPECT_TRUE(ok);
  Decode({0x11, 0x00, 0x05}, 1000, 1000, &ok);  // no clusters
  EXPECT_FALSE(ok);
  Decode({0x31, 0x05, 0x01}, 1000, 1000, &ok);  // offset field past the bytes
  EXPECT_FALSE(ok);
  Decode({0x19, 0x05, 1, 2, 3, 4, 5, 6, 7, 8, 9}, 1000, 1000, &ok);  // 9-byte length field
  EXPECT_FALSE(ok);
  Decode({0x01, 0x05, 0x01, 0x06}, 1000, 10, &ok);  // 11 clusters where 10 are allowed
  EXPECT_FALSE(ok);
  // A huge hole is bounded by the allowed clusters, not by the volume.
  Decode({0x08, 0, 0, 0, 0, 0, 0, 0, 0x40}, 1000, 1000, &ok);
  EXPECT_FALSE(ok);
  // Offsets that would wrap around 64 bits.
  Decode({0x81, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F,
          0x81, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F},
         ~uint64_t{0}, ~uint64_t{0} >> 8, &ok);
  EXPECT_FALSE(ok);
}

TEST(NtfsGeometry, RecordSizeFromTheBootSector) {
  EXPECT_EQ(NtfsRecordBytes(0xF6, 4096), 1024u);  // -10: 2^10 bytes
  EXPECT_EQ(NtfsRecordBytes(0xF4, 512), 4096u);
  EXPECT_EQ(NtfsRecordBytes(2, 4096), 8192u);  // two clusters
  EXPECT_EQ(NtfsRecordBytes(0, 4096), 0u);
  EXPECT_EQ(NtfsRecordBytes(0x80, 4096), 0u);  // -128: absurd
}

}  // namespace
}  // namespace kestrel
