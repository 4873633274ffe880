#pragma once
// Lays files and filler into a disk image for the raw-scan integration tests.
//
// The image is built in memory from whole 512-byte sectors: every file starts at a sector boundary,
// the rest of its last sector is filled with zeros or random bytes, and its start sector is
// recorded. Random filler sectors begin with kRandomSectorMark, so that no random sector can start
// a file by accident (see below).

#include <cstdint>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::testing {

// What fills the space that no file occupies.
enum class Filler {
  kZeros,
  // Any byte values, from std::mt19937_64 (the same sequence for a seed on every platform).
  kRandom,
  // Bytes 0x80..0xFE only. No end sequence that a carving routine searches for can occur in them
  // (FF D9, 00 3B, 00 00 01 B9, "%%EOF", "TAG", the PNG IEND chunk, "</ASX>", F4 39 B2 71,
  // "\par }", "MTrk", "SECd", the CRW 0x2005 record, "PK\5\6"), so an open picture or document is
  // not given a false end by them.
  kRandomNoEndMarkers,
};

struct PlacedFile {
  std::string label;
  uint64_t start_sector = 0;
  uint64_t byte_count = 0;

  uint64_t sector_count() const;  // sectors the file touches
  uint64_t end_sector() const { return start_sector + sector_count(); }
};

class ImageBuilder {
 public:
  static constexpr uint64_t kSectorBytes = 512;
  // The first 8 bytes of every random filler sector: "RANDOM" and two zero bytes. No signature row
  // matches it: no row's fixed bytes start "RANDOM", bytes 4..7 are none of the QuickTime atom
  // names, and the zero at offset 6 ends the text that the "contains" tests search.
  static constexpr std::string_view kRandomSectorMark{"RANDOM\0\0", 8};

  // `tail_seed` seeds the random bytes that fill the ends of last sectors (Filler::kRandom*).
  explicit ImageBuilder(uint64_t tail_seed = 1);

  void AddZeros(uint64_t sectors);
  // Random sectors from `seed`; kind kZeros adds zero sectors.
  void AddRandom(uint64_t sectors, uint64_t seed, Filler kind = Filler::kRandom);
  // Places `bytes` at the next sector and fills the rest of its last sector with `tail`.
  PlacedFile AddFile(std::span<const uint8_t> bytes, std::string label = {},
                     Filler tail = Filler::kZeros);
  // Places a committed sample of tests/fixtures/samples, labelled with its file name.
  PlacedFile AddSample(std::string_view file, Filler tail = Filler::kZeros);

  uint64_t sector_count() const { return image_.size() / kSectorBytes; }
  const std::vector<uint8_t>& bytes() const { return image_; }
  const std::vector<PlacedFile>& files() const { return files_; }

  // Writes the image to `path` (replacing it); throws std::runtime_error on failure.
  void WriteTo(const std::string& path) const;

 private:
  void AppendFiller(size_t count, Filler kind, std::mt19937_64& random);

  std::vector<uint8_t> image_;
  std::vector<PlacedFile> files_;
  std::mt19937_64 tail_random_;
};

}  // namespace kestrel::testing
