#include "run/file_types.h"

#include "platform/settings_store.h"

namespace kestrel {

const std::array<FileTypeEntry, kFileTypeCount>& FileTypeCatalogue() {
  static constexpr std::array<FileTypeEntry, kFileTypeCount> kCatalogue = {{
      {0, "AIF", "AIF", 57470},       {1, "ASX", "ASX", 57488},      {2, "AVI", "AVI", 57471},
      {3, "BMP", "BMP", 57472},       {4, "CRW", "CRW", 57493},      {5, "CUR", "CUR", 57473},
      {6, "DCR", "DCR", 57495},       {7, "DOC/DOCX", "DOC", 57491}, {8, "GIF", "GIF", 57474},
      {9, "ICO", "ICO", 57475},       {10, "JPG", "JPG", 57476},     {11, "KDC", "KDC", 57504},
      {12, "MID", "MID", 57480},      {13, "MOV", "MOV", 57483},     {14, "MP3", "MP3", 57477},
      {15, "MPG", "MPG", 57484},      {16, "MRW", "MRW", 57497},     {17, "MSF", "MSF", 57498},
      {18, "MSV", "MSV", 57499},      {19, "NEF", "NEF", 57494},     {20, "ORF", "ORF", 57503},
      {21, "PDF", "PDF", 57485},      {22, "PEF", "PEF", 57500},     {23, "PNG", "PNG", 57489},
      {24, "PPT/PPTX", "PPT", 57505}, {25, "PST", "PST", 57490},     {26, "RAF", "RAF", 57496},
      {27, "RTF", "RTF", 57492},      {28, "SND", "SND", 57481},     {29, "SRF", "SRF", 57501},
      {30, "TIF", "TIF", 57478},      {31, "WAV", "WAV", 57479},     {32, "WMF", "WMF", 57486},
      {33, "WMV", "WMV", 57487},      {34, "X3F", "X3F", 57502},     {35, "XLS/XLSX", "XLS", 57506},
      {36, "ZIP", "ZIP", 57482},
  }};
  return kCatalogue;
}

std::optional<int> FindTypeByName(std::string_view name) {
  for (const FileTypeEntry& entry : FileTypeCatalogue()) {
    if (entry.name == name) return entry.index;
  }
  return std::nullopt;
}

void FileTypeSelection::LoadFileTypeMask(SettingsStore& store) {
  if (mask != 0) return;
  if (!store.KeyExists()) {
    mask = kAllFileTypesMask;
    return;
  }
  if (auto value = store.GetByte("Scan File")) scan_all = *value;
  uint64_t loaded = 0;
  for (const FileTypeEntry& entry : FileTypeCatalogue()) {
    uint8_t selected = store.GetByte(std::string(entry.name)).value_or(1);
    if (selected != 0) loaded |= TypeBit(entry.index);
  }
  mask = loaded;
}

void FileTypeSelection::SaveFileTypeSelection(SettingsStore& store,
                                              const std::array<bool, kFileTypeCount>& ticked,
                                              bool scan_all_files) {
  store.CreateKey();
  for (const FileTypeEntry& entry : FileTypeCatalogue()) {
    bool on = ticked[entry.index];
    store.SetByte(std::string(entry.name), on ? 1 : 0);
    if (on) {
      mask |= TypeBit(entry.index);
    } else {
      mask &= ~TypeBit(entry.index);
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
