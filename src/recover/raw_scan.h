#pragma once
// The driver of "Recover files from partition/disk": reads a volume or a disk from sector 0 to
// its end in chunks of 64 sectors and offers every sector to the signature dispatch. A reading
// thread reads ahead of the carving; what the user sees and answers stays per chunk.

#include <functional>
#include <memory>
#include <string>

#include "platform/byte_source.h"
#include "recover/read_ahead.h"
#include "recover/scan_plan.h"
#include "report/run_report.h"
#include "run/file_types.h"
#include "run/run_context.h"
#include "run/run_outcome.h"
#include "sources/drive_enumeration.h"

namespace kestrel {

struct RawScanRequest {
  // The source: a volume or a disk of the device map, or a device/image path (read whole).
  const VolumeEntry* volume = nullptr;
  const PhysicalDiskEntry* disk = nullptr;
  std::string path;
  const DeviceMap* map = nullptr;
  // What the front end chose for this run, or took from the settings where the user chose
  // nothing (ApplyStoredChoices): the types carved and the recovery folder below which the day
  // folder is made (empty: the default folder).
  FileTypeSelection types;
  std::string recovery_folder;
  // Wraps the opened source (fault injection in tests).
  std::function<std::unique_ptr<ByteSource>(std::unique_ptr<ByteSource>)> wrap_source;
  // Only the clusters the volume's FAT, exFAT allocation bitmap or NTFS $Bitmap marks free
  // are carved.
  bool free_space_only = false;
  // Carved files that are not whole are kept in the run folder's "partial/" folder, listed
  // apart and not counted (otherwise they are deleted).
  bool keep_not_whole = false;
  // Reading on its own thread ahead of the carving, or on the carving thread (the same results;
  // the second is what a run falls back to when no thread can be started).
  enum class Reading { kReadAhead, kOneThread };
  Reading reading = Reading::kReadAhead;
  ReadAheadShape read_ahead;
  // Going on with an interrupted scan of the same source with the same types and options: the
  // one whose checkpoint `resume_folder` holds, or when that is empty the newest one in a run
  // folder of the recovery folder. A scan keeps its checkpoint in its run folder every
  // `checkpoint_seconds` (when no file is open) and removes it when it completes.
  bool resume = false;
  std::string resume_folder;
  // A new scan asks whether to go on with an unfinished scan of the same source and options
  // that a run folder of the recovery folder holds (the window; the command line has --resume).
  bool offer_resume = false;
  double checkpoint_seconds = 5;
  // The run's report in the run folder (digests, byte runs), or none.
  ReportChoice dfxml;
};

RunResult RunRawScan(RunContext& run, const RawScanRequest& request);

}  // namespace kestrel
