// Telling a whole ZIP archive from a damaged one by its central directory, local headers and
// member CRCs: archives written by zip, Python and LibreOffice are whole; the same archives with
// a 4 KiB block of random bytes, text, zeros or another archive inside, with a block missing,
// cut short, or ending in another archive's tail are not; crafted directories end at once.
#include "carve/formats/zip_check.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "carve/formats/zip.h"
#include "support/carve_harness.h"
#include "support/damaged_blocks.h"
#include "support/structured_fixtures.h"

namespace kestrel {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::CheckInMemory;
using testing::kDamageBlock;

Whole CheckArchive(const Bytes& archive) {
  return CheckInMemory(CheckZip, archive);
}

// An archive of deflated text, random bytes (deflated in stored blocks), the same random bytes
// stored, and a small member, made by zip.
Bytes MixedArchive(int seed) {
  return testing::MakeWithTool(
      "seq " + std::to_string(seed) +
      " 3 60000 > numbers.txt && head -c 60000 /dev/urandom > "
      "noise.bin && cp noise.bin stored.bin && echo small > a.txt && zip -q -X out.zip "
      "numbers.txt noise.bin a.txt && zip -q -X -0 out.zip stored.bin && mv out.zip out");
}

class ZipTools : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::HaveTool("zip")) GTEST_SKIP() << "zip is not installed";
  }
};

TEST_F(ZipTools, ArchivesAsToolsWriteThemAreWhole) {
  const struct {
    const char* what;
    std::string command;
  } kCases[] = {
      {"deflated and stored",
       "seq 1 50000 > n.txt && head -c 9000 /dev/urandom > r.bin && "
       "zip -q out.zip n.txt r.bin && mv out.zip out"},
      {"all stored", "seq 1 50000 > n.txt && zip -q -0 out.zip n.txt && mv out.zip out"},
      // Written from a pipe: sizes and CRC in a data descriptor after the data.
      {"data descriptor", "seq 1 50000 | zip -q out.zip - && mv out.zip out"},
      {"ZIP64 records", "seq 1 50000 > n.txt && zip -q -fz out.zip n.txt && mv out.zip out"},
      {"empty member and folder", "mkdir d && touch d/e && zip -q -r out.zip d && mv out.zip out"},
      {"Python, streamed ZIP64 member",
       "/usr/bin/python3 -c 'import zipfile\n"
       "with zipfile.ZipFile(\"out\", \"w\", zipfile.ZIP_DEFLATED) as z:\n"
       "  z.writestr(\"a\", \"x\" * 70000)\n"
       "  with z.open(\"b\", \"w\", force_zip64=True) as f: f.write(b\"y\" * 5000)'"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    const Bytes archive = testing::MakeWithTool(c.command);
    ASSERT_FALSE(archive.empty());
    EXPECT_EQ(CheckArchive(archive), Whole::kYes);
  }
}

TEST(ZipCheck, OfficeDocumentsAndSamplesAreWhole) {
  for (const char* name : {"office.docx", "office.xlsx", "office.pptx", "stored.zip",
                           "commented.zip", "plain_word_folder.zip"}) {
    EXPECT_EQ(CheckArchive(testing::StructuredSample(name)), Whole::kYes) << name;
  }
  const std::string samples = testing::SamplesDir();
  if (samples.empty()) return;
  for (const char* name : {"ZIP.zip", "OOXML.docx"}) {
    EXPECT_EQ(CheckArchive(testing::ReadFileBytes(samples + "/exiftool-t-images/" + name)),
              Whole::kYes)
        << name;
  }
}

// Encrypted members and bzip2 data are not unpacked: with nothing else, the archive is
// unchecked.
TEST_F(ZipTools, EncryptedAndBzip2ArchivesAreUnchecked) {
  for (const char* options : {"-e -P secret", "-Z bzip2"}) {
    const Bytes archive = testing::MakeWithTool(std::string("seq 1 20000 > n.txt && zip -q ") +
                                                options + " out.zip n.txt && mv out.zip out");
    ASSERT_FALSE(archive.empty()) << options;
    EXPECT_EQ(CheckArchive(archive), Whole::kUnchecked) << options;
  }
}

// Every 4 KiB block after the first: replaced by foreign bytes, or missing.
TEST_F(ZipTools, AnyBlockReplacedOrMissingBreaksIt) {
  const Bytes archive = MixedArchive(1);
  const Bytes other = MixedArchive(2);
  ASSERT_GT(archive.size(), 30 * kDamageBlock);
  ASSERT_EQ(CheckArchive(archive), Whole::kYes);
  for (size_t at = kDamageBlock; at + kDamageBlock < archive.size(); at += kDamageBlock) {
    SCOPED_TRACE(at);
    const Bytes other_block(other.begin() + static_cast<std::ptrdiff_t>(at),
                            other.begin() + static_cast<std::ptrdiff_t>(at + kDamageBlock));
    for (const Bytes& block :
         {testing::NoiseBlock(), testing::TextBlock(), testing::ZeroBlock(), other_block}) {
      EXPECT_EQ(CheckArchive(testing::WithBlock(archive, at, block)), Whole::kNo);
    }
    EXPECT_EQ(CheckArchive(testing::WithoutBlock(archive, at)), Whole::kNo);
  }
}

TEST_F(ZipTools, HeadOfOneArchiveWithTheTailOfAnotherOrCutShortIsBroken) {
  const Bytes archive = MixedArchive(1);
  const Bytes other = MixedArchive(2);
  for (size_t at : {kDamageBlock, archive.size() / 2, archive.size() - kDamageBlock}) {
    SCOPED_TRACE(at);
    EXPECT_EQ(CheckArchive(testing::Spliced(archive, other, at)), Whole::kNo);
    EXPECT_EQ(
        CheckArchive(Bytes(archive.begin(), archive.begin() + static_cast<std::ptrdiff_t>(at))),
        Whole::kNo);
  }
}

// ---------------------------------------------------------------------------------------------
// Crafted directories.

void PutLe(Bytes& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// A central directory entry of a deflated member named "m".
void PutCentralEntry(Bytes& out, uint32_t crc, uint32_t packed, uint32_t size, uint32_t local) {
  PutLe(out, 0x02014B50, 4);
  for (uint64_t v : {20, 20, 0, 8, 0, 0}) PutLe(out, v, 2);  // versions, flags, method, time
  for (uint64_t v : {crc, packed, size}) PutLe(out, v, 4);
  for (uint64_t v : {1, 0, 0, 0, 0}) PutLe(out, v, 2);  // name, extra, comment, disk, attrs
  for (uint64_t v : {uint32_t{0}, local}) PutLe(out, v, 4);
  out.push_back('m');
}

// ZIP64 end record and locator for `entries` entries of the directory at [offset, here), then
// the end record.
void PutEndRecords(Bytes& out, uint64_t entries, uint64_t offset) {
  const uint64_t size = out.size() - offset, zip64_end = out.size();
  PutLe(out, 0x06064B50, 4);
  PutLe(out, 44, 8);
  PutLe(out, 45, 2);
  PutLe(out, 45, 2);
  PutLe(out, 0, 8);  // disk numbers
  for (uint64_t v : {entries, entries, size, offset}) PutLe(out, v, 8);
  PutLe(out, 0x07064B50, 4);
  PutLe(out, 0, 4);
  PutLe(out, zip64_end, 8);
  PutLe(out, 1, 4);
  PutLe(out, 0x06054B50, 4);
  for (uint64_t v : {0, 0, 0xFFFF, 0xFFFF}) PutLe(out, v, 2);
  for (uint64_t v : {0xFFFFFFFF, 0xFFFFFFFF}) PutLe(out, v, 4);
  PutLe(out, 0, 2);
}

// Raw deflate of `data`.
Bytes Deflated(const Bytes& data) {
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  Bytes out(deflateBound(&z, data.size()));
  z.next_in = const_cast<Bytef*>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

TEST(ZipCheckHostile, DirectoriesThatPointAnywhereEndWithAVerdict) {
  constexpr uint64_t kMembers = 100000;
  // Members at absurd offsets.
  Bytes absurd;
  for (uint64_t i = 0; i < kMembers; ++i) {
    PutCentralEntry(absurd, 0, 10, 10, static_cast<uint32_t>(0xFFFFFFF0 - i));
  }
  PutEndRecords(absurd, kMembers, 0);
  EXPECT_EQ(CheckArchive(absurd), Whole::kNo);

  // Every member is the same 1 MiB of zeros: what is unpacked is capped, and each member is
  // found whole at its offset.
  const Bytes zeros(1 << 20, 0);
  const Bytes packed = Deflated(zeros);
  const auto crc = static_cast<uint32_t>(crc32(0, zeros.data(), static_cast<uInt>(zeros.size())));
  Bytes one_object;
  PutLe(one_object, 0x04034B50, 4);
  for (uint64_t v : {20, 0, 8, 0, 0}) PutLe(one_object, v, 2);
  for (uint64_t v : {uint64_t{crc}, uint64_t{packed.size()}, uint64_t{zeros.size()}}) {
    PutLe(one_object, v, 4);
  }
  for (uint64_t v : {1, 0}) PutLe(one_object, v, 2);
  one_object.push_back('m');
  one_object.insert(one_object.end(), packed.begin(), packed.end());
  const uint64_t directory = one_object.size();
  for (uint64_t i = 0; i < kMembers; ++i) {
    PutCentralEntry(one_object, crc, static_cast<uint32_t>(packed.size()),
                    static_cast<uint32_t>(zeros.size()), 0);
  }
  PutEndRecords(one_object, kMembers, directory);
  EXPECT_EQ(CheckArchive(one_object), Whole::kYes);

  // Counts and places past the file.
  Bytes huge_count;
  PutCentralEntry(huge_count, 0, 0, 0, 0);
  PutEndRecords(huge_count, ~uint64_t{0}, 0);
  EXPECT_EQ(CheckArchive(huge_count), Whole::kNo);
  Bytes far_directory = huge_count;
  far_directory[far_directory.size() - 22 - 20 + 8] = 0xF0;  // the locator's ZIP64 end offset
  EXPECT_EQ(CheckArchive(far_directory), Whole::kNo);
  EXPECT_EQ(CheckArchive(Bytes(21, 0)), Whole::kNo);
}

// ---------------------------------------------------------------------------------------------
// Through the carving.

TEST_F(ZipTools, ABrokenArchiveIsNoLongerKeptAndAWholeOneIs) {
  constexpr uint64_t kFileSector = 2;
  const Bytes archive = MixedArchive(1);
  const Bytes broken = testing::WithBlock(archive, 8 * kDamageBlock, testing::TextBlock());
  CarveHarness whole(testing::ImageWithFileAt(archive, kFileSector));
  whole.Carve(ZipState{}, "ZIP", kFileSector);
  whole.ExpectKept(archive, "KES00001.ZIP");
  CarveHarness damaged(testing::ImageWithFileAt(broken, kFileSector));
  damaged.Carve(ZipState{}, "ZIP", kFileSector);
  damaged.ExpectNothingKept();
}

}  // namespace
}  // namespace kestrel
