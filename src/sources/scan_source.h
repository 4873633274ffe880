#pragma once
// A recovery source opened for one run, and the 512-byte sector transfers that read it.
// Sector numbers, counts and byte offsets are 64-bit; a sector is always 512 bytes, also on
// devices with larger physical sectors (the source's sector count is its size / 512).

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/byte_source.h"
#include "platform/image_container.h"
#include "platform/sector_size.h"
#include "report/run_report.h"

namespace kestrel {

enum class SourceKind { kVolume, kDisk };

struct ScanSource {
  SourceKind kind = SourceKind::kVolume;
  char drive_letter = 0;    // volume: its letter ('C'..'Z'), 0 for a plain path
  int disk_ordinal = -1;    // disk: its ordinal in the disk list
  std::string device_path;  // what was opened (device node or image file)
  ImageContainer container = ImageContainer::kPlain;  // what holds the disk of an image file
  std::string open_error;  // why a split or EWF image cannot be read (message 70006)
  std::unique_ptr<ByteSource> bytes;
  uint32_t bytes_per_sector = kSectorBytes;  // device's logical sector size (buffer sizing only)
  uint64_t sector_count = 0;                 // size / 512
  std::array<uint8_t, kSectorBytes> boot_sector{};
};

// The source as a run's report names it.
ReportSource ReportSourceOf(const ScanSource& source);

// Reads `count` sectors from `first_sector` into `buffer` (count * 512 bytes). Returns 0 on
// success, 1 on failure. A short read of more than 0 bytes succeeds when it reaches the source's
// end; one that stops before it stopped at a read error and fails. Whatever was not read, on
// success or failure, is zero-filled, so the buffer never holds an earlier read's bytes.
int TransferSectors(ByteSource& source, uint64_t first_sector, uint64_t count, uint8_t* buffer);

}  // namespace kestrel
