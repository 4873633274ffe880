#pragma once
// Runs the driver of the selected recovery mode for a Recover click: "Recover deleted files" on
// the folder or drive chosen in the tree, "Recover files from partition/disk" on the row chosen
// in the source list.

#include <functional>
#include <memory>

#include "app/app_state.h"
#include "app/source_tree.h"
#include "platform/byte_source.h"
#include "run/run_context.h"
#include "run/run_outcome.h"

namespace kestrel {

// Wraps the source a raw scan opened (tests inject read faults with it).
using SourceWrapper = std::function<std::unique_ptr<ByteSource>(std::unique_ptr<ByteSource>)>;

struct RunSelection {
  RecoveryMode mode = RecoveryMode::kDeletedFiles;
  TreeSource tree;                          // mode 1
  const VolumeEntry* volume = nullptr;      // mode 2: a drive-letter row
  const PhysicalDiskEntry* disk = nullptr;  // mode 2: a physical-disk row
};

RunResult LaunchRun(RunContext& run, AppState& app, const RunSelection& selection,
                    const SourceWrapper& wrap_source = {});

// The volume that holds a folder of the file system and the folder's path inside it
// ("/Pictures"); no volume when none of the device map holds it.
struct VolumeFolder {
  const VolumeEntry* volume = nullptr;
  std::string inner_path;
};
VolumeFolder LocateNativeFolder(const DeviceMap& map, const std::string& native_path);

}  // namespace kestrel
