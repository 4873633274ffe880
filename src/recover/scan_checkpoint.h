#pragma once
// What an interrupted raw scan needs to go on where it was: the source it read (its size and a
// fingerprint of its first and last bytes), the options that shape its results, the sector up
// to which every file found was finished (taken when no file was open, so that nothing carved
// before it is carved again), the progress and count so far, the spans left for the second look,
// the next number per extension of the run folder and of its "partial/" folder, so that what
// was written after it can be removed before the scan goes on, and how much of the run's report
// held the files found before it. Kept in the run folder as a small
// text file, replaced atomically.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "carve/carve_engine.h"
#include "platform/byte_source.h"
#include "report/run_report.h"
#include "run/file_types.h"

namespace kestrel {

// Hidden: it is no recovered file.
inline constexpr const char* kCheckpointName = ".kestrel-scan.checkpoint";
// A larger file is no checkpoint of ours.
inline constexpr size_t kMaxCheckpointBytes = size_t{64} << 20;

struct ScanCheckpoint {
  static constexpr int kVersion = 1;
  std::string source_path;
  uint64_t source_bytes = 0;
  uint64_t fingerprint = 0;
  TypeSet types;
  bool free_space_only = false;
  bool keep_not_whole = false;
  // Every sector before it was carved, and every file found before it finished.
  uint64_t next_sector = 0;
  uint64_t done_sectors = 0;  // of the scan's total, for its progress
  uint32_t recovered = 0;
  bool first_pass_done = false;
  std::vector<SectorSpan> unexamined;
  // The next number per extension ("" when none was written yet: any number is newer).
  std::map<std::string, uint64_t> next_numbers;
  std::map<std::string, uint64_t> next_not_whole_numbers;
  // The run's report ("" when it writes none): its name in the run folder and its length when it
  // held every file found before `next_sector`.
  std::string report_name;
  uint64_t report_bytes = 0;
  // Where and when the scan went on after earlier interruptions.
  std::vector<RunResumption> resumptions;
};

std::string FormatCheckpoint(const ScanCheckpoint& checkpoint);

enum class CheckpointStatus : uint8_t { kOk, kDamaged, kNewer };
CheckpointStatus ParseCheckpoint(std::string_view text, ScanCheckpoint* checkpoint);

// A fingerprint of the source's first and last 64 KiB (FNV-1a); bytes that cannot be read count
// as zeros.
uint64_t SourceFingerprint(ByteSource& source);

// The run folder below `recovery_folder` whose checkpoint was taken of this source with these
// options, the newest when several were; "" when none was.
std::string FindUnfinishedScan(const std::string& recovery_folder, uint64_t source_bytes,
                               uint64_t fingerprint, const TypeSet& types, bool free_space_only,
                               bool keep_not_whole);

// Whether `checkpoint` was taken of this source with these options.
bool SameScan(const ScanCheckpoint& checkpoint, uint64_t source_bytes, uint64_t fingerprint,
              const TypeSet& types, bool free_space_only, bool keep_not_whole);

}  // namespace kestrel
