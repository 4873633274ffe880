#pragma once
// The application-wide values the window, its dialogs and the runs share: the device map found
// at start-up, the settings store, the file type selection, the recovery mode and the text of the
// selected source, and the host through which the window asks the user.

#include <string>

#include "app/dialog_host.h"
#include "platform/settings_store.h"
#include "run/file_types.h"
#include "sources/drive_enumeration.h"

namespace kestrel {

enum class RecoveryMode : int {
  kDeletedFiles = 1,   // "Recover deleted files"
  kPartitionDisk = 2,  // "Recover files from partition/disk"
};

struct AppState {
  AppState(DeviceMap map, std::string settings_path, DialogHost& dialog_host)
      : devices(std::move(map)), settings(std::move(settings_path)), host(dialog_host) {}

  DeviceMap devices;
  SettingsStore settings;
  FileTypeSelection types;
  RecoveryMode recovery_mode = RecoveryMode::kDeletedFiles;
  std::string selected_source_text;
  DialogHost& host;
};

}  // namespace kestrel
