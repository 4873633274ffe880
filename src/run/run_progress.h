#pragma once
// A run's progress in numbers, for front ends that make their own texts (rates, time left,
// machine-readable progress) without reading back the texts of the progress fields.

#include <cstdint>

namespace kestrel {

// What the run is busy with.
enum class Activity : uint8_t {
  kScanning,  // reading the source sector by sector and carving
  kCopying,   // writing deleted files found in the volume's structures
};

struct RunProgress {
  Activity activity = Activity::kScanning;
  uint64_t bytes_done = 0;  // of the bytes the run reads (the free space only, when asked)
  uint64_t bytes_total = 0;
  uint64_t sector = 0;  // the sector being read
  uint32_t files_recovered = 0;
  uint64_t source_sectors = 0;  // sectors of the source a scan reads in (0 when not scanning)
};

}  // namespace kestrel
