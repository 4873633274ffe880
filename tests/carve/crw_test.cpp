// CRW carving: the file ends after its root directory, also when the directory crosses a sector
// boundary or its first record starts a sector (the record count then lies in the sector before).

#include "carve/formats/crw.h"

#include <gtest/gtest.h>

#include "support/carve_harness.h"

namespace kestrel {
namespace {

using testing::CarveHarness;
using testing::Concat;
using testing::Filler;

class Writer {
 public:
  explicit Writer(bool big_endian) : big_endian_(big_endian) {}
  void U16(uint16_t v) { Put(v, 2); }
  void U32(uint32_t v) { Put(v, 4); }
  void Raw(const std::vector<uint8_t>& b) { bytes.insert(bytes.end(), b.begin(), b.end()); }
  std::vector<uint8_t> bytes;

 private:
  void Put(uint32_t v, int n) {
    for (int k = 0; k < n; ++k) {
      const int shift = big_endian_ ? 8 * (n - 1 - k) : 8 * k;
      bytes.push_back(static_cast<uint8_t>(v >> shift));
    }
  }
  bool big_endian_;
};

// A CIFF file: header, raw image data at heap offset 0, a thumbnail, then the root directory
// (raw data record first) and its table offset, which end the file. The directory starts at file
// offset 26 + raw + thumbnail.
std::vector<uint8_t> MakeCrw(bool big_endian, uint32_t raw, uint32_t thumbnail) {
  Writer w(big_endian);
  w.Raw(testing::Bytes(big_endian ? "MM" : "II"));
  w.U32(26);
  w.Raw(testing::Bytes("HEAPCCDR"));
  w.U16(1);
  w.U16(2);
  w.Raw(std::vector<uint8_t>(8, 0));
  w.Raw(std::vector<uint8_t>(raw, 0xA5));
  w.Raw(std::vector<uint8_t>(thumbnail, 0x3C));
  w.U16(3);
  for (auto [tag, size, offset] :
       {std::tuple{0x2005u, raw, 0u}, std::tuple{0x2007u, thumbnail, raw},
        std::tuple{0x0810u, 0u, 0u}}) {
    w.U16(static_cast<uint16_t>(tag));
    w.U32(size);
    w.U32(offset);
  }
  w.U32(raw + thumbnail);
  return w.bytes;
}

// Carves `crw` laid at sector 0 with junk after it; returns the sectors the routine took.
uint64_t Carve(CarveHarness& h, const std::vector<uint8_t>& crw, bool big_endian) {
  h.source.bytes() = Concat({crw, Filler(2048)});
  return h.Carve(CrwState{big_endian}, "CRW", 0, ~uint64_t{0}, false);
}

void ExpectListed(CarveHarness& h, const std::vector<uint8_t>& expected) {
  EXPECT_EQ(h.OnlyFile(), expected);
  ASSERT_EQ(h.ui.rows.size(), 1u);
  EXPECT_EQ(h.ui.rows[0].bytes, expected.size());
  EXPECT_EQ(h.run.recovered_count, 1u);
  EXPECT_FALSE(h.engine.is_open());
}

TEST(Crw, RootDirectoryCrossingASectorBoundaryIsWrittenWhole) {
  for (bool big_endian : {false, true}) {
    SCOPED_TRACE(big_endian ? "MM" : "II");
    // Directory at 1520: records from 1522 to 1552, table offset to 1556. The raw data lies in
    // the sectors before the directory's.
    const auto crw = MakeCrw(big_endian, 900, 1520 - 26 - 900);
    ASSERT_EQ(crw.size(), 1556u);
    CarveHarness h;
    EXPECT_EQ(Carve(h, crw, big_endian), 4u);
    ExpectListed(h, crw);
  }
}

TEST(Crw, FirstRecordAtASectorStartTakesItsCountFromTheSectorBefore) {
  // Record count at 1534..1535, first record at 1536.
  const auto crw = MakeCrw(false, 1000, 1534 - 26 - 1000);
  CarveHarness h;
  EXPECT_EQ(Carve(h, crw, false), 4u);
  ExpectListed(h, crw);
}

TEST(Crw, DirectoryEndingOnASectorEndClosesTheFileAtOnce) {
  const auto crw = MakeCrw(false, 900, 1500 - 26 - 900);
  ASSERT_EQ(crw.size(), 1536u);
  CarveHarness h;
  EXPECT_EQ(Carve(h, crw, false), 3u);
  ExpectListed(h, crw);
}

TEST(Crw, RawRecordWhoseDataWasNotWrittenYetIsNotTheRootDirectory) {
  // A look-alike record in the header sector: its size is not inside what was written before.
  auto crw = MakeCrw(false, 800, 600);
  const std::vector<uint8_t> decoy{0x05, 0x20, 0x10, 0, 0, 0, 0, 0, 0, 0};
  std::copy(decoy.begin(), decoy.end(), crw.begin() + 100);
  CarveHarness h;
  Carve(h, crw, false);
  ExpectListed(h, crw);
}

TEST(Crw, CanonSampleEndsAfterItsRootDirectory) {
  const std::string samples = testing::SamplesDir();
  if (samples.empty()) GTEST_SKIP() << "the shared samples folder is missing";
  const auto sample = testing::ReadFileBytes(samples + "/exiftool-t-images/CanonRaw.crw");
  if (sample.size() != 6816) GTEST_SKIP() << "CanonRaw.crw is not the expected sample";
  // Root directory at heap offset 0x1832 (file offset 0x184C) with 3 records; what follows its
  // table offset is a trailer of another program, not part of the CIFF file.
  const size_t end = 0x184C + 2 + 3 * 10 + 4;
  CarveHarness h;
  Carve(h, sample, false);
  ExpectListed(h, {sample.begin(), sample.begin() + end});
}

}  // namespace
}  // namespace kestrel
