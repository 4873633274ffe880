#include "run/file_types.h"

#include <string>

#include "platform/settings_store.h"

namespace kestrel {

const std::array<FileTypeEntry, kFileTypeCount>& FileTypeCatalogue() {
  return kFileTypeCatalogue;
}

std::optional<int> FindTypeByName(std::string_view name) {
  for (const FileTypeEntry& entry : FileTypeCatalogue()) {
    if (entry.name == name) return entry.index;
  }
  return std::nullopt;
}

void FileTypeSelection::LoadFileTypeMask(SettingsStore& store) {
  if (!mask.None()) return;
  if (!store.KeyExists()) {
    mask = kAllFileTypesMask;
    return;
  }
  if (auto value = store.GetByte("Scan File")) scan_all = *value;
  TypeSet loaded;
  for (const FileTypeEntry& entry : FileTypeCatalogue()) {
    uint8_t selected = store.GetByte(std::string(entry.name)).value_or(1);
    if (selected != 0) loaded.Add(entry.index);
  }
  mask = loaded;
}

void FileTypeSelection::SaveFileTypeSelection(SettingsStore& store, const TypeSet& ticked,
                                              bool scan_all_files) {
  store.CreateKey();
  for (const FileTypeEntry& entry : FileTypeCatalogue()) {
    const bool on = ticked.Has(entry.index);
    store.SetByte(std::string(entry.name), on ? 1 : 0);
    if (on) {
      mask.Add(entry.index);
    } else {
      mask.Remove(entry.index);
    }
  }
  scan_all = scan_all_files ? 1 : 0;
  store.SetByte("Scan File", scan_all);
}

bool FileTypeSelection::IsExtensionWanted(std::string_view extension) const {
  if (scan_all != 0) return true;
  std::optional<int> code = FindTypeByName(extension);
  return code && IsTypeSelected(*code);
}

}  // namespace kestrel
