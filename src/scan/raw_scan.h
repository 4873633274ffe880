#pragma once
// The driver of "Recover files from partition/disk": reads a volume or a disk from sector 0 to
// its end in chunks of 64 sectors and offers every sector to the signature dispatch.

#include <functional>
#include <memory>
#include <string>

#include "disk/drive_enumeration.h"
#include "platform/byte_source.h"
#include "run/file_types.h"
#include "run/run_context.h"
#include "run/run_outcome.h"

namespace kestrel {

class SettingsStore;

struct RawScanRequest {
  // The source: a volume or a disk of the device map, or a device/image path (read whole).
  const VolumeEntry* volume = nullptr;
  const PhysicalDiskEntry* disk = nullptr;
  std::string path;
  const DeviceMap* map = nullptr;
  // The recovery folder for this run; empty: the stored "Default Folder".
  std::string recovery_folder;
  // Wraps the opened source (fault injection in tests).
  std::function<std::unique_ptr<ByteSource>(std::unique_ptr<ByteSource>)> wrap_source;
};

// Sectors per chunk: the unit of progress, cancel polls and read-error questions.
inline constexpr uint32_t kChunkSectors = 64;

RunResult RunRawScan(RunContext& run, FileTypeSelection& types, SettingsStore& settings,
                     const RawScanRequest& request);

}  // namespace kestrel
