#include "sources/source_rows.h"

namespace kestrel {
namespace {

constexpr size_t kMaxListLabelChars = 25;

const char* DefaultLabel(const VolumeEntry& volume) {
  return volume.removable ? "Removable Disk" : "Local Disk";
}

}  // namespace

std::string FirstCharacters(const std::string& text, size_t count) {
  size_t pos = 0;
  for (size_t seen = 0; pos < text.size() && seen < count; ++seen) {
    ++pos;
    while (pos < text.size() && (static_cast<unsigned char>(text[pos]) & 0xC0) == 0x80) ++pos;
  }
  return text.substr(0, pos);
}

std::string VolumeRowText(const VolumeEntry& volume) {
  std::string label = FirstCharacters(volume.label, kMaxListLabelChars);
  if (label.empty()) label = DefaultLabel(volume);
  return " " + label + " (" + volume.letter + ":)";
}

std::string DiskRowText(const PhysicalDiskEntry& disk) {
  std::string model = disk.model;
  while (!model.empty() && model.back() == ' ') model.pop_back();
  return " " + model;
}

std::string DriveItemLabel(const VolumeEntry& volume, const std::string& autorun_label) {
  if (!autorun_label.empty() && autorun_label != "Fail") return autorun_label;
  if (!volume.label.empty()) return volume.label;
  return DefaultLabel(volume);
}

std::string DriveItemText(const std::string& label, char letter, bool system_drive) {
  std::string text = label + " (" + letter + ":)";
  if (system_drive) text += " *";
  return text;
}

}  // namespace kestrel
