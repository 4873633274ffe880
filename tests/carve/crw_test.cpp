// CRW carving: the file ends after its root directory, also when the directory crosses a sector
// boundary or its first record starts a sector (the record count then lies in the sector before).

#include "carve/formats/crw.h"

#include "support/carve_harness.h"

namespace kestrel {
namespace {

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

TEST(Crw, FileEndsAfterItsRootDirectory) {
  // A look-alike record in the header sector: its size is not inside what was written before.
  auto decoyed = MakeCrw(false, 800, 600);
  const Bytes decoy{0x05, 0x20, 0x10, 0, 0, 0, 0, 0, 0, 0};
  std::copy(decoy.begin(), decoy.end(), decoyed.begin() + 100);
  const struct {
    const char* what;
    bool big_endian;
    Bytes crw;
    uint64_t sectors;  // 0: not checked
  } kCases[] = {
      // Directory at 1520: records from 1522 to 1552, table offset to 1556. The raw data lies in
      // the sectors before the directory's.
      {"directory crossing a sector boundary, II", false, MakeCrw(false, 900, 1520 - 26 - 900), 4},
      {"directory crossing a sector boundary, MM", true, MakeCrw(true, 900, 1520 - 26 - 900), 4},
      // Record count at 1534..1535, first record at 1536: the count lies in the sector before.
      {"first record at a sector start", false, MakeCrw(false, 1000, 1534 - 26 - 1000), 4},
      {"directory ending on a sector end", false, MakeCrw(false, 900, 1500 - 26 - 900), 3},
      {"a raw record whose data was not written yet is no root directory", false, decoyed, 0},
  };
  ASSERT_EQ(kCases[0].crw.size(), 1556u);
  ASSERT_EQ(kCases[3].crw.size(), 1536u);
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    CarveHarness h;
    const uint64_t sectors = Carve(h, c.crw, c.big_endian);
    if (c.sectors != 0) {
      EXPECT_EQ(sectors, c.sectors);
    }
    h.ExpectKept(c.crw);
  }
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
  h.ExpectKept({sample.begin(), sample.begin() + end});
}

}  // namespace
}  // namespace kestrel
